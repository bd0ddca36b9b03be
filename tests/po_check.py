"""The command's German catalog against its sources: every text of
po/command/tavio32.pot translated in de.po, none fuzzy, the same printf
placeholders in the same order, and the .pot as scripts/update-pot.sh
extracts it from the sources now."""
import pathlib
import re
import subprocess
import sys
import tempfile

import polib

root = pathlib.Path(sys.argv[1])
placeholder = re.compile(r"%(?:\d+\$)?[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|z|j|t|L)?[diouxXeEfgGcsp%]|\{\}")
problems = []
with tempfile.TemporaryDirectory() as tmp:
    fresh = pathlib.Path(tmp) / "fresh.pot"
    subprocess.run(["bash", root / "scripts/update-pot.sh", fresh], check=True)
    if fresh.read_text() != (root / "po/command/tavio32.pot").read_text():
        problems.append("po/command/tavio32.pot is out of date: run scripts/update-pot.sh and translate what is new")
german = {e.msgid: e for e in polib.pofile(str(root / "po/command/de.po")) if not e.obsolete}
pot = polib.pofile(str(root / "po/command/tavio32.pot"))
for e in pot:
    d = german.get(e.msgid)
    if d is None or not d.msgstr:
        problems.append("no German text for %r" % e.msgid)
    elif d.fuzzy:
        problems.append("the German text of %r is fuzzy" % e.msgid)
    elif placeholder.findall(e.msgid) != placeholder.findall(d.msgstr):
        problems.append("placeholders differ: %r / %r" % (e.msgid, d.msgstr))
print("%d texts in the command's catalog" % len(pot))
print("\n".join(problems) or "every text has its German")
sys.exit(1 if problems else 0)
