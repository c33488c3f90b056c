#!/usr/bin/env python3
"""Checks that a Win32 executable imports nothing Windows 95, 98 or Me lack.

    win9x_imports.py --objdump OBJDUMP --baseline BASELINE.exe \
                     --missing LIST.txt PROGRAM.exe

The imports are read from `OBJDUMP -p` (the PE import tables). The check fails
when PROGRAM imports
  - a DLL other than the system DLLs every Windows 9x has (kernel32, user32,
    gdi32, advapi32, version, msvcrt, comctl32, shell32): a runtime DLL such
    as libgcc_s or libstdc++ would be missing on the target machine;
  - any function named in LIST.txt (calls that Windows 95, 98 or Me do not
    provide or provide only as failing stubs), wherever it comes from;
  - a Unicode function (kernel32/user32/... names ending in "W", msvcrt names
    starting with "_w") that BASELINE does not import too. BASELINE is a small
    program built with the same compiler, flags and static runtime; what it
    imports comes from the runtime, so only what PROGRAM's own code adds is
    judged here.
Prints every import and the verdict; exit status 0 when fit, 1 when not, 2
when the tables cannot be read.
"""
import argparse
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "version.dll",
               "msvcrt.dll", "comctl32.dll", "shell32.dll"}


def read_imports(objdump, exe):
    """Returns {dll (lower case): [function names]} from objdump -p."""
    try:
        text = subprocess.run([objdump, "-p", exe], check=True, capture_output=True,
                              text=True).stdout
    except (OSError, subprocess.CalledProcessError) as e:
        sys.exit(f"win9x_imports: cannot read the imports of {exe}: {e}")
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


def is_unicode(dll, name):
    if dll == "msvcrt.dll":
        return name.startswith("_w")
    return re.search(r"[a-z0-9]W$", name) is not None


def read_missing(path):
    names = set()
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                names.add(line)
    return names


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", required=True)
    ap.add_argument("--baseline", required=True)
    ap.add_argument("--missing", required=True)
    ap.add_argument("program")
    args = ap.parse_args()

    program = read_imports(args.objdump, args.program)
    baseline = read_imports(args.objdump, args.baseline)
    baseline_names = {(d, n) for d, names in baseline.items() for n in names}
    missing = read_missing(args.missing)

    faults = []
    for dll in sorted(program):
        names = program[dll]
        print(f"{dll}: {len(names)} functions")
        if dll not in SYSTEM_DLLS:
            faults.append(f"{dll} is not a system DLL of Windows 95/98/Me")
        for name in names:
            notes = []
            if name in missing:
                notes.append("MISSING ON WINDOWS 9x")
                faults.append(f"{dll} {name}: listed as missing on Windows 95/98/Me")
            if is_unicode(dll, name):
                if (dll, name) in baseline_names:
                    notes.append("unicode, from the runtime (the baseline imports it too)")
                else:
                    notes.append("UNICODE, FROM THE PROGRAM'S OWN CODE")
                    faults.append(f"{dll} {name}: a Unicode call the baseline does not make")
            print(f"  {name}" + (f"  [{'; '.join(notes)}]" if notes else ""))
    if faults:
        print("NOT FIT for Windows 95/98/Me:")
        for f in faults:
            print("  " + f)
        return 1
    print("fit: no import that Windows 95/98/Me lack beyond what the runtime brings")
    return 0


if __name__ == "__main__":
    sys.exit(main())
