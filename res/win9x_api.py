"""Judges a Win32 program's imports against what Windows 95, 98 and Me
provide: the rules shared by the build's check (check_resources.py) and the
import test (tests/e2e/win9x_imports.py). The names live in win9x_api.txt
beside this file.

An import is unfit when
  - its DLL is not one every Windows 9x has ([system-dlls]);
  - its function is listed under [missing] (absent there, or a failing stub);
  - its function is a Unicode one: a name ending in "W", or for msvcrt.dll a
    name starting with "_w". Windows 95/98/Me export most of these only as
    stubs that fail, and the program must not depend on what such a failure
    does, whether its own code or the runtime makes the call.
"""
import os

LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "win9x_api.txt")


class Win9xApi:
    def __init__(self, path=LIST):
        sections = {}
        current = None
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                line = line.split("#", 1)[0].strip()
                if not line:
                    continue
                if line.startswith("[") and line.endswith("]"):
                    current = sections.setdefault(line[1:-1], set())
                elif current is None:
                    raise ValueError("%s:%d: a name before the first section" % (path, number))
                else:
                    current.add(line)
        for needed in ("system-dlls", "missing"):
            if not sections.get(needed):
                raise ValueError("%s: no [%s] names" % (path, needed))
        self.system_dlls = {name.lower() for name in sections["system-dlls"]}
        self.missing = sections["missing"]

    @staticmethod
    def is_unicode(dll, name):
        if dll.lower() == "msvcrt.dll" and name.startswith("_w"):
            return True
        return name.endswith("W")

    def function_faults(self, dll, name):
        """Why one imported function is unfit; empty when it is fit."""
        faults = []
        if name in self.missing:
            faults.append("listed as missing on Windows 95/98/Me")
        if self.is_unicode(dll, name):
            faults.append("a Unicode call (most are failing stubs on Windows 95/98/Me)")
        return faults

    def faults(self, imports):
        """Every fault of [(dll, [function, ...])], one line each."""
        found = []
        for dll, names in imports:
            if dll.lower() not in self.system_dlls:
                found.append("%s is not a system DLL of Windows 95/98/Me" % dll)
            for name in names:
                found += ["%s %s: %s" % (dll, name, why) for why in self.function_faults(dll, name)]
        return found
