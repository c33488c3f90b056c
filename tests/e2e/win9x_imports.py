#!/usr/bin/env python3
"""Checks that a Win32 executable imports nothing Windows 95, 98 or Me lack.

    win9x_imports.py --objdump OBJDUMP PROGRAM.exe

The imports are read from `OBJDUMP -p` (the PE import tables), a reader
independent of the one the build's own check uses, and judged by the rules
and the list the build applies (res/win9x_api.py and res/win9x_api.txt): a
DLL other than the system DLLs every Windows 9x has, any function that is not
on the allow-list of its DLL there or is listed as missing, and any Unicode
function fail the check, wherever in the program or its runtime the import
comes from.
Prints every import and the verdict; exit status 0 when fit, 1 when not, 2
when the tables cannot be read.
"""
import argparse
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "res"))
from win9x_api import Win9xApi  # noqa: E402


def read_imports(objdump, exe):
    """Returns {dll (lower case): [function names]} from objdump -p."""
    try:
        text = subprocess.run([objdump, "-p", exe], check=True, capture_output=True,
                              text=True).stdout
    except (OSError, subprocess.CalledProcessError) as e:
        print(f"win9x_imports: cannot read the imports of {exe}: {e}", file=sys.stderr)
        sys.exit(2)
    imports = {}
    dll = None
    in_tables = False
    for line in text.splitlines():
        if line.startswith("The Import Tables"):
            in_tables = True
            continue
        if in_tables and (line.startswith("The Export Tables") or
                          line.startswith("PE File Base Relocations") or
                          line.startswith("The Function Table")):
            break
        if not in_tables:
            continue
        m = re.match(r"\s*DLL Name:\s*(\S+)", line)
        if m:
            dll = m.group(1).lower()
            imports.setdefault(dll, [])
            continue
        # "\t3a2a8\t  136  CloseHandle" (by name) or "... <none> ..." by ordinal
        m = re.match(r"\s+[0-9a-f]+\s+(\d+)\s+(\S+)\s*$", line)
        if m and dll:
            imports[dll].append(m.group(2))
    if not imports:
        print(f"win9x_imports: no import table found in {exe}", file=sys.stderr)
        sys.exit(2)
    return imports


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", required=True)
    ap.add_argument("program")
    args = ap.parse_args()

    program = read_imports(args.objdump, args.program)
    try:
        api = Win9xApi()
    except ValueError as e:
        print(f"win9x_imports: the list of imports cannot be used: {e}", file=sys.stderr)
        return 2

    for dll in sorted(program):
        names = program[dll]
        print(f"{dll}: {len(names)} functions")
        for name in names:
            notes = api.function_faults(dll, name)
            print(f"  {name}" + (f"  [{'; '.join(notes).upper()}]" if notes else ""))
    faults = api.faults(sorted(program.items()))
    if faults:
        print("NOT FIT for Windows 95/98/Me:")
        for f in faults:
            print("  " + f)
        return 1
    print("fit: every import is one Windows 95/98/Me provide, none a Unicode call")
    return 0


if __name__ == "__main__":
    sys.exit(main())
