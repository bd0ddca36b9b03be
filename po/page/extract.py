#!/usr/bin/env python3
"""Writes the template of the page's texts, tavio32-page.pot: the texts of
web/index.html's elements marked data-i18n (their own text, aria-label, title
and placeholder) and those of web/app.js marked _('...') or N_('...')
(xgettext). After a change of the page's texts:

    python3 po/page/extract.py &&
    msgmerge -U --backup=none --no-wrap --add-location=file po/page/de.po po/page/tavio32-page.pot

and translate what is new or fuzzy in de.po.
    extract.py [--output FILE]   (default: po/page/tavio32-page.pot)"""
import argparse
import html.parser
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
WEB = os.path.join(HERE, "..", "..", "web")
ATTRIBUTES = ("aria-label", "title", "placeholder")
HEADER = """# The texts of the page of tavio32 serve.
# This file is distributed under the same license as the tavio32 package.
#
#, fuzzy
msgid ""
msgstr ""
"Project-Id-Version: tavio32-page\\n"
"Content-Type: text/plain; charset=UTF-8\\n"
"Content-Transfer-Encoding: 8bit\\n"

"""


class Texts(html.parser.HTMLParser):
    """The marked texts of a page."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.found = {}      # the texts, in the order first met
        self.open = []       # marked: is each element open now marked?

    def add(self, text):
        text = " ".join(text.split())
        if any(c.isalpha() for c in text):  # not a sign such as the close button's
            self.found.setdefault(text)

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        marked = "data-i18n" in a
        if marked:
            for name in ATTRIBUTES:
                if a.get(name):
                    self.add(a[name])
        if tag not in ("input", "meta", "link", "br", "img", "source"):
            self.open.append(marked)

    def handle_endtag(self, tag):
        if self.open and tag not in ("input", "meta", "link", "br", "img", "source"):
            self.open.pop()

    def handle_data(self, data):
        if self.open and self.open[-1]:
            self.add(data)


def quote(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--output", default=os.path.join(HERE, "tavio32-page.pot"))
    out = p.parse_args().output
    page = Texts()
    with open(os.path.join(WEB, "index.html"), encoding="utf-8") as f:
        page.feed(f.read())
    with open(out, "w", encoding="utf-8") as f:
        f.write(HEADER)
        for text in page.found:
            f.write("#: web/index.html\nmsgid %s\nmsgstr \"\"\n\n" % quote(text))
    # xgettext adds the script's texts (a text in both keeps both places).
    subprocess.run(["xgettext", "--join-existing", "--language=JavaScript", "--from-code=UTF-8",
                    "--keyword=_", "--keyword=N_", "--add-comments=TRANSLATORS:", "--omit-header",
                    "--no-wrap", "--add-location=file", "--directory=" + os.path.join(HERE, "..", ".."), "--output=" + out,
                    "web/app.js", "po/page/server-texts.js"], check=True)


if __name__ == "__main__":
    sys.exit(main())
