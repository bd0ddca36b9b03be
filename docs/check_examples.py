#!/usr/bin/env python3
"""Checks the code in the manual, the reference and README.md.

Every ```c, ```python and ```pascal block carries a marker on the line
directly before its fence: `% signature`, `% pascal` or `% example [emu=NAME]
[args...]` (MyST comments), or the same as an HTML comment
(`<!-- example emu=sios -->`), which GitHub does not show. Then:

  signature   C prototypes, compiled after #include "tavio32.h" (a type
              that differs from the header's fails); each name is the
              header's
  pascal      Free Pascal compiles the declarations with TAVIO32.DLL
              replaced by the Linux library and links a program that takes
              the address of each function against BUILD/libtavio32.so
  example     a C program built against the build's library, or a Python
              script run with the package in python/; with emu=NAME that
              emulator (BUILD/tavio32-sim --device NAME) is on COM1, else
              no port has a device. 30 s each; exit status 0 wanted.

A block without a marker fails, and so does a marker on another language.
Other fences (```sh, ```{literalinclude}, ...) are left alone.

  docs/check_examples.py BUILD [FILE.md...]    (default: README.md, docs/**/*.md)
  docs/check_examples.py --reference           the reference's entries

--reference checks that docs/reference/ has one `## NAME` entry for each of
the 83 functions of the export table and the Linux extras of the header,
each with its signature, its Pascal declaration (not the extras) and the
fixed bold headings, and that the table in reference/index.md points at the
family that holds each entry.
"""
import concurrent.futures
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LANGUAGES = {"c": "c", "python": "python", "py": "python", "pascal": "pascal"}
KINDS = {"signature": {"c"}, "pascal": {"pascal"}, "example": {"c", "python"}}
EMULATORS = {"echo", "silent", "sios", "compulab", "zelle", "rsbox", "camface", "ccontrol"}
HEADINGS = ["Arguments.", "Result.", "On the wire.", "Waits.", "Without an interface, and with a closed port."]
MARKER = re.compile(r"^\s*(?:%\s*(.*?)|<!--\s*(.*?)\s*-->)\s*$")
FENCE = re.compile(r"^(\s*)(`{3,}|~{3,})\s*([^`\s]*)")


class Block:
    def __init__(self, path, line, language, marker, code):
        self.path, self.line, self.language, self.code = path, line, language, code
        words = (marker or "").split()
        self.kind = words[0] if words else None
        self.options = words[1:]

    def where(self):
        return "%s:%d" % (os.path.relpath(self.path, TOP), self.line)


def blocks(path):
    """The fenced blocks of a markdown file, with the marker before each."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    found, i = [], 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        fence, info, start = m.group(2), m.group(3).lower(), i
        i += 1
        body = []
        while i < len(lines) and not re.match(r"^\s*" + re.escape(fence[0]) + "{%d,}\\s*$" % len(fence), lines[i]):
            body.append(lines[i])
            i += 1
        i += 1
        marker = MARKER.match(lines[start - 1]) if start > 0 else None
        marker = (marker.group(1) or marker.group(2)) if marker else None
        if marker is not None and marker.split()[:1] and marker.split()[0] not in KINDS:
            marker = None  # another comment
        if info in LANGUAGES or marker is not None:
            found.append(Block(path, start + 1, LANGUAGES.get(info, info), marker, "\n".join(body) + "\n"))
    return found


def normal(prototype):
    """A prototype without the export macros, comments and extra spaces."""
    prototype = re.sub(r"/\*.*?\*/|//[^\n]*|\bTAVIO32_(API|CALL)\b", " ", prototype, flags=re.S)
    return re.sub(r"\s*([(),*;])\s*", r"\1", " ".join(prototype.split()))


def header_names():
    """The header's functions: name -> its prototype, normalised."""
    with open(os.path.join(TOP, "include", "tavio32.h"), encoding="utf-8") as f:
        text = f.read()
    return {m.group(2): normal(m.group(1)) for m in re.finditer(r"^(TAVIO32_API\b[^;(]*?\b(\w+)\s*\([^()]*\)\s*;)", text, re.M)}


def run(command, timeout, **kw):
    """Runs COMMAND in its own process group, ended by its id at TIMEOUT."""
    p = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         start_new_session=True, **kw)
    try:
        out, _ = p.communicate(timeout=timeout)
        return p.returncode, out.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, 9)
        out, _ = p.communicate()
        return None, out.decode("utf-8", "replace") + "\n(killed after %d s)" % timeout


def check_signatures(todo, names, work, cc):
    """All prototypes in one compile; a message is charged to its block by
    the #line directives."""
    source = ['#include "tavio32.h"']
    failed = {}
    for b in todo:
        source += ['#line %d "%s"' % (b.line + 1, b.where().split(":")[0]), b.code]
        for m in re.finditer(r"([^;{}]*?\b(\w+)\s*\([^()]*\)\s*;)", b.code):
            text, name = m.groups()
            if name not in names:
                failed.setdefault(b, []).append("%s is not a function of tavio32.h" % name)
            elif not text.lstrip().startswith("typedef") and normal(text) != names[name]:
                failed.setdefault(b, []).append("%s differs from tavio32.h: %s" % (normal(text), names[name]))
    path = os.path.join(work, "signatures.c")
    with open(path, "w") as f:
        f.write("\n".join(source) + "\n")
    status, out = run([cc, "-fsyntax-only", "-Wall", "-Werror", "-I", os.path.join(TOP, "include"), path], 60, cwd=TOP)
    for line in out.splitlines():
        m = re.match(r"^([^:]+):(\d+):", line)
        owner = m and [b for b in todo if b.where().split(":")[0] == m.group(1) and
                       b.line < int(m.group(2)) <= b.line + b.code.count("\n")]
        if owner:
            failed.setdefault(owner[0], []).append(line)
    if status != 0 and not failed:
        failed[todo[0]] = [out]
    return {b: failed.get(b) for b in todo}


# Pascal's names of the header's types.
PASCAL_TYPES = {"longint": "int32_t", "integer": "int32_t", "longword": "uint32_t", "cardinal": "uint32_t",
                "dword": "uint32_t", "double": "double", "pansichar": "char*", "pchar": "char*"}


def pascal_types(parameters, result):
    """The types of a Pascal declaration: parameters, then the result."""
    types = []
    for group in filter(None, (g.strip() for g in parameters.split(";"))):
        names, _, kind = group.rpartition(":")
        types += [kind.strip()] * len(names.split(","))
    return types + [result or "void"]


def c_types(prototype):
    """The same of a normalised C prototype."""
    m = re.match(r"(.*?)\b\w+\((.*)\);$", prototype)
    parameters = [] if m.group(2) == "void" else [re.sub(r"\w+$", "", p).strip() for p in m.group(2).split(",")]
    return parameters + [m.group(1).strip()]


def check_pascal(todo, names, build, work):
    """Declarations: a unit each, and a program that takes every function's
    address, linked against the library. Whole programs: compiled and linked."""
    results = {}
    units = []
    for n, b in enumerate(todo):
        code = re.sub(r"'TAVIO32(\.DLL)?'", "'tavio32'", b.code, flags=re.I)
        declared = re.findall(r"^\s*(?:function|procedure)\s+(\w+)", code, re.M | re.I)
        unknown = [d for d in declared if d not in names]
        if unknown:
            results[b] = ["%s is not a function of tavio32.h (names are as in the header)" % ", ".join(unknown)]
        for m in re.finditer(r"^\s*(function|procedure)\s+(\w+)\s*(?:\(([^)]*)\))?\s*(?::\s*(\w+))?", code, re.M | re.I):
            if m.group(2) in names:
                types = [PASCAL_TYPES.get(t.lower(), t) for t in pascal_types(m.group(3) or "", m.group(4))]
                if types != c_types(names[m.group(2)]):
                    results.setdefault(b, []).append("%s: the types (%s) are not the header's %s" % (
                        m.group(2), ", ".join(types), names[m.group(2)]))
        if re.search(r"^\s*program\b", code, re.M | re.I):
            path = os.path.join(work, "whole%d.pas" % n)
            with open(path, "w") as f:
                f.write(code)
            status, out = run(["fpc", "-ve", "-Fl" + build, "-FE" + work, path], 60)
            if status != 0:
                results.setdefault(b, []).append(out.strip())
            continue
        unit = "doc%d" % n
        units.append((unit, declared, b))
        with open(os.path.join(work, unit + ".pas"), "w") as f:
            f.write("unit %s;\n{$mode delphi}\ninterface\n%s\nimplementation\nend.\n" % (unit, code))
    if units:
        refs = ["  p := @%s.%s;" % (u, d) for u, declared, _ in units for d in declared]
        with open(os.path.join(work, "pascalcheck.pas"), "w") as f:
            f.write("program pascalcheck;\n{$mode delphi}\nuses %s;\nvar p: Pointer;\nbegin\n%s\n  if p = nil then halt(1);\nend.\n"
                    % (", ".join(u for u, _, _ in units), "\n".join(refs)))
        status, out = run(["fpc", "-ve", "-Fl" + build, "-FE" + work, os.path.join(work, "pascalcheck.pas")], 120)
        if status != 0:
            blamed = False
            undefined = set(re.findall(r"undefined reference to `(\w+)'", out))
            for unit, declared, b in units:
                mine = [l for l in out.splitlines() if l.startswith(unit + ".pas(")]
                mine += ["%s: not in %s/libtavio32.so" % (d, build) for d in declared if d in undefined]
                if mine:
                    results.setdefault(b, []).append("\n".join(mine))
                    blamed = True
            if not blamed:
                for _, _, b in units:
                    results.setdefault(b, []).append(out.strip()[-2000:])
    return {b: results.get(b) for b in todo}


def build_example(b, n, build, work, cc):
    if b.language == "python":
        path = os.path.join(work, "example%d.py" % n)
        with open(path, "w") as f:
            f.write(b.code)
        return [sys.executable, path], None
    path = os.path.join(work, "example%d.c" % n)
    with open(path, "w") as f:
        f.write(b.code)
    exe = path[:-2]
    status, out = run([cc, "-Wall", "-Wextra", "-Wno-unused-parameter", "-Werror", "-I", os.path.join(TOP, "include"),
                       path, "-o", exe, "-L" + build, "-ltavio32", "-Wl,-rpath," + build, "-lm"], 60)
    return [exe], (None if status == 0 else "\n".join(out.strip().splitlines()[:20]))


def run_example(b, command, build, work):
    emu = [o.split("=", 1)[1] for o in b.options if o.startswith("emu=")]
    args = [o for o in b.options if not o.startswith("emu=")]
    if emu and emu[0] not in EMULATORS:
        return "unknown emulator %s (one of %s)" % (emu[0], ", ".join(sorted(EMULATORS)))
    env = dict(os.environ, PYTHONPATH=os.path.join(TOP, "python"), PYTHONDONTWRITEBYTECODE="1",
               TAVIO32_LIBRARY=os.path.join(build, "libtavio32.so"),
               TAVIO32_COM_NUMBERS=os.path.join(work, "com-numbers"))
    # No port reaches this machine's own devices.
    for n in range(1, 10):
        env["TAVIO32_COM%d" % n] = os.path.join(work, "no-device-COM%d" % n)
    sim = None
    try:
        if emu:
            link = os.path.join(work, "com1")
            if os.path.lexists(link):
                os.unlink(link)
            sim = subprocess.Popen([os.path.join(build, "tavio32-sim"), "--device", emu[0], "--link", link],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while not os.path.exists(link) and time.monotonic() < deadline and sim.poll() is None:
                time.sleep(0.02)
            if not os.path.exists(link):
                return "tavio32-sim --device %s did not start" % emu[0]
            env["TAVIO32_COM1"] = link
        status, out = run(command + args, 30, env=env, cwd=work)
    finally:
        if sim is not None:
            sim.terminate()
            try:
                sim.wait(5)
            except subprocess.TimeoutExpired:
                sim.kill()
                sim.wait()
    if status != 0:
        what = "did not end within 30 s" if status is None else "exit status %d" % status
        return "%s; its output:\n%s" % (what, out.strip()[-3000:])
    return None


def check_examples(build, files):
    build = os.path.abspath(build)
    cc = os.environ.get("CC", "cc")
    names = header_names()
    found = [b for path in files for b in blocks(path)]
    results, failed = {}, 0
    for b in found:
        if b.kind is None:
            results[b] = ["a %s block without a marker (%% signature, %% pascal or %% example before the fence)" % b.language]
        elif b.language not in KINDS[b.kind]:
            results[b] = ["%% %s does not go with a %s block" % (b.kind, b.language or "plain")]
    todo = [b for b in found if b not in results]
    work = tempfile.mkdtemp(prefix="tavio32-docs-")
    try:
        signatures = [b for b in todo if b.kind == "signature"]
        if signatures:
            results.update(check_signatures(signatures, names, work, cc))
        pascal = [b for b in todo if b.kind == "pascal"]
        if pascal and not shutil.which("fpc"):
            for b in pascal:
                results[b] = ["no fpc here (scripts/setup.sh docs installs Free Pascal)"]
        elif pascal:
            results.update(check_pascal(pascal, names, build, work))
        examples = [b for b in todo if b.kind == "example"]
        # Built two at a time, run one at a time (the library admits one process).
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            built = [pool.submit(build_example, b, n, build, work, cc) for n, b in enumerate(examples)]
            for b, future in zip(examples, built):
                command, error = future.result()
                error = error or run_example(b, command, build, work)
                results[b] = [error] if error else None
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for b in found:
        problem = results.get(b)
        failed += bool(problem)
        label = "%s %s %s" % (b.kind or "unmarked", b.language, " ".join(b.options))
        print("%s %s: %s" % ("FAILED" if problem else "ok", b.where(), label.strip()))
        for p in problem or []:
            print("    " + p.replace("\n", "\n    "))
    print("docs examples: %d blocks, %d passed, %d failed" % (len(found), len(found) - failed, failed))
    return failed == 0


def check_reference():
    with open(os.path.join(TOP, "src", "exports", "tavio32_x64.def"), encoding="utf-8") as f:
        exported = re.findall(r'^\s*"?(\w+)"?\s+@\d+', f.read(), re.M)
    extras = sorted(n for n in header_names() if n.startswith("tavio32_"))
    problems, entries = [], {}
    for path in sorted(glob.glob(os.path.join(TOP, "docs", "reference", "*.md"))):
        family = os.path.basename(path)[:-3]
        if family == "index":
            continue
        with open(path, encoding="utf-8") as f:
            text = f.read()
        for part in re.split(r"^(?=## )", text, flags=re.M)[1:]:
            name = part.split("\n", 1)[0][3:].strip()
            if name in entries:
                problems.append("%s has two entries (%s and %s)" % (name, entries[name], family))
            entries[name] = family
            missing = ["**%s**" % h for h in HEADINGS if "**%s**" % h not in part]
            if not re.search(r"^% signature\s*\n```c\n[^`]*\b" + re.escape(name) + r"\s*\(", part, re.M):
                missing.append("its % signature block")
            if name not in extras and not re.search(r"^% pascal\s*\n```pascal\n[^`]*\b" + re.escape(name) + r"\b", part, re.M):
                missing.append("its % pascal block")
            if missing:
                problems.append("%s (%s.md) lacks %s" % (name, family, ", ".join(missing)))
    for name in exported + extras:
        if name not in entries:
            problems.append("%s has no entry in docs/reference/" % name)
    for name in sorted(set(entries) - set(exported) - set(extras)):
        problems.append("%s (%s.md) is not a function of the library" % (name, entries[name]))
    with open(os.path.join(TOP, "docs", "reference", "index.md"), encoding="utf-8") as f:
        table = dict(re.findall(r"^\|[^|]*\| \[(\w+)\]\(([\w-]+)\.md#", f.read(), re.M))
    for name in exported + extras:
        if name in entries and table.get(name) != entries[name]:
            problems.append("reference/index.md: %s points at %s, its entry is in %s.md" % (name, table.get(name), entries[name]))
    for p in problems:
        print("FAILED: " + p)
    print("docs reference: %d functions, %d entries, %d problems" % (len(exported) + len(extras), len(entries), len(problems)))
    return not problems


def main(argv):
    if argv[:1] == ["--reference"]:
        return 0 if check_reference() else 1
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    files = argv[1:] or [os.path.join(TOP, "README.md")] + sorted(
        p for p in glob.glob(os.path.join(TOP, "docs", "**", "*.md"), recursive=True) if "/_generated/" not in p)
    return 0 if check_examples(argv[0], files) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
