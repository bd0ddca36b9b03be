#!/usr/bin/env python3
"""The page's texts (po/page): the template is what extract.py makes of the
page's sources now, and de.po translates every text, none fuzzy, with the
same placeholders ({name}, %s) as the English. Exit 77: no gettext."""
import collections
import os
import re
import shutil
import subprocess
import sys
import tempfile

PAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "po", "page")
sys.path.insert(0, PAGE)
from po2json import entries  # noqa: E402


def texts(po, *options):
    return entries(subprocess.run(["msgattrib", "--no-obsolete", "--no-wrap", *options, po], check=True,
                                  capture_output=True, text=True).stdout)


def main():
    if not shutil.which("xgettext"):
        print("gettext is not installed")
        return 77
    problems = []
    pot = os.path.join(PAGE, "tavio32-page.pot")
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([sys.executable, os.path.join(PAGE, "extract.py"), "--output", tmp + "/now.pot"], check=True)
        with open(pot, encoding="utf-8") as a, open(tmp + "/now.pot", encoding="utf-8") as b:
            if a.read() != b.read():
                problems.append("tavio32-page.pot is out of date: run po/page/extract.py, then msgmerge de.po")
    de = os.path.join(PAGE, "de.po")
    german = dict(texts(de))
    fuzzy = [m for m, _ in texts(de, "--only-fuzzy")]
    for msgid, _ in texts(pot):
        marks = lambda s: collections.Counter(re.findall(r"\{\w+\}|%[sd]", s))  # noqa: E731
        if not german.get(msgid):
            problems.append("no German for %r" % msgid)
        elif msgid in fuzzy:
            problems.append("fuzzy German for %r" % msgid)
        elif marks(msgid) != marks(german[msgid]):
            problems.append("placeholders differ: %r -> %r" % (msgid, german[msgid]))
    if subprocess.run(["msgfmt", "--check", "-o", os.devnull, de]).returncode:
        problems.append("msgfmt --check finds de.po faulty")
    print("\n".join(problems) or "%d texts, all in German" % len(german))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
