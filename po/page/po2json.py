#!/usr/bin/env python3
"""Writes the page's catalog of a language as JSON, {"msgid": "msgstr", ...},
from its .po file: the translated entries, none fuzzy (gettext's msgattrib
picks them), in the template's order. At build time (cmake/web.cmake):

    po2json.py de.po de.json"""
import ast
import json
import subprocess
import sys


def entries(po_text):
    """(msgid, msgstr) of a .po file without contexts or plurals."""
    key, strings, fields = None, {}, []
    for line in po_text.splitlines() + [""]:
        line = line.strip()
        if line.startswith("msgid ") or line.startswith("msgstr ") or not line:
            if key:
                fields.append((key, strings[key]))
            key = None
        if line.startswith("msgid ") or line.startswith("msgstr "):
            key, rest = line.split(" ", 1)
            strings[key] = ast.literal_eval(rest)
        elif line.startswith('"') and key:
            strings[key] += ast.literal_eval(line)
    pairs, msgid = [], None
    for key, value in fields:
        if key == "msgid":
            msgid = value
        elif msgid:  # not the header
            pairs.append((msgid, value))
    return pairs


def main(po, out):
    text = subprocess.run(["msgattrib", "--translated", "--no-fuzzy", "--no-obsolete", "--no-wrap",
                           "--no-location", po], check=True, capture_output=True, text=True).stdout
    catalog = {msgid: msgstr for msgid, msgstr in entries(text) if msgstr}
    with open(out, "w", encoding="utf-8") as f:
        json.dump(catalog, f, ensure_ascii=False, separators=(",", ":"))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
