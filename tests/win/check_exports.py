#!/usr/bin/env python3
"""Checks the export and import tables of TAVIO32.DLL with objdump -p.

usage: check_exports.py OBJDUMP DLL DEF

Passes when the DLL exports exactly the names of the module-definition file,
undecorated, at the ordinals the file gives them (1 to 83, dense), imports
from no DLL but KERNEL32, USER32, WINMM, WS2_32 and msvcrt, and shares between
processes nothing but the 4-byte id of the process that holds it.
"""
import re
import subprocess
import sys

ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "winmm.dll", "ws2_32.dll", "msvcrt.dll"}


def expected(def_path):
    table = {}
    for line in open(def_path, encoding="ascii"):
        m = re.match(r'\s*"?([A-Z_]+)(?:@\d+)?"?\s+@(\d+)\s*$', line)
        if m:
            table[int(m.group(2))] = m.group(1)
    return table


def main():
    objdump, dll, def_path = sys.argv[1:4]
    text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    want = expected(def_path)
    errors = []
    if sorted(want) != list(range(1, 84)):
        errors.append(f"the definition file lists ordinals {sorted(want)}, not 1..83")

    # "[Ordinal/Name Pointer] Table" lists every named export as
    # "\t[  47] AIN": the export's place in the address table, which is its
    # ordinal less the ordinal base.
    m = re.search(r"Export Address Table -- Ordinal Base (\d+)", text)
    base = int(m.group(1)) if m else 0
    if base != 1:
        errors.append(f"the ordinal base is {base}, not 1")
    got = {}
    names = text.split("[Ordinal/Name Pointer] Table", 1)
    for line in (names[1].splitlines()[1:] if len(names) == 2 else []):
        m = re.match(r"\s*\[\s*(\d+)\]\s+(\S+)\s*$", line)
        if not m:
            break
        if int(m.group(1)) + base in got:
            errors.append(f"two names at ordinal {int(m.group(1)) + base}")
        got[int(m.group(1)) + base] = m.group(2)
    for ordinal, name in sorted(want.items()):
        if got.get(ordinal) != name:
            errors.append(f"ordinal {ordinal}: want {name}, have {got.get(ordinal)}")
    for ordinal, name in sorted(got.items()):
        if ordinal not in want:
            errors.append(f"extra export {name} at ordinal {ordinal}")
    addresses = re.findall(r"^\s*\[\s*\d+\] \+base\[\s*\d+\]\s+[0-9a-fA-F]+ Export RVA", text, re.M)
    if len(addresses) != 83:
        errors.append(f"{len(addresses)} export addresses, not 83")

    imports = set(n.lower() for n in re.findall(r"^\s*DLL Name: (\S+)", text, re.M))
    for name in sorted(imports - ALLOWED_IMPORTS):
        errors.append(f"imports from {name}")

    headers = subprocess.run([objdump, "-h", dll], check=True, capture_output=True, text=True).stdout
    shared = re.findall(r"^\s*\d+\s+(\S+)\s+([0-9a-fA-F]+)\s.*\n\s+.*\bSHARED\b", headers, re.M)
    if [(name, int(size, 16)) for name, size in shared] != [(".shr", 4)]:
        errors.append(f"shared sections {shared}, not one of 4 bytes")

    for e in errors:
        print("FAIL:", e)
    print(f"{dll}: {len(got)} named exports, imports {', '.join(sorted(imports))}")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
