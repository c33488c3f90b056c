"""Judges a Win32 program's imports against what Windows 95, 98 and Me
provide: the rules shared by the build's check (check_resources.py) and the
import test (tests/e2e/win9x_imports.py). The names live in win9x_api.txt
beside this file.

An import is fit only when
  - its DLL is one every Windows 95, 98 and Me has ([system-dlls]);
  - its function is on that DLL's allow-list (the section named after the
    DLL), where each carries the Windows 95 behaviour the program relies on;
  - its function is not listed under [missing] (absent there, or a failing
    stub) and is not a Unicode one: a name ending in "W", or for a C runtime
    DLL a name starting with "_w". Windows 95/98/Me export most of these only
    as stubs that fail.
The list itself is checked when it is read: every allowed function has its
reason, lies in a system DLL, and is neither missing nor Unicode.
"""
import os

LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "win9x_api.txt")
C_RUNTIMES = {"crtdll.dll", "msvcrt.dll"}


class Win9xApi:
    def __init__(self, path=LIST):
        sections = {}
        current = None
        problems = []
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                name, _, reason = line.partition("#")
                name, reason = name.strip(), reason.strip()
                if not name:
                    continue
                if name.startswith("[") and name.endswith("]"):
                    current = sections.setdefault(name[1:-1].lower(), {})
                elif current is None:
                    raise ValueError("%s:%d: a name before the first section" % (path, number))
                else:
                    current[name] = (number, reason)
        for needed in ("system-dlls", "missing"):
            if not sections.get(needed):
                raise ValueError("%s: no [%s] names" % (path, needed))
        self.system_dlls = {name.lower() for name in sections.pop("system-dlls")}
        self.missing = set(sections.pop("missing"))
        self.allowed = {}
        for dll, names in sections.items():
            if dll not in self.system_dlls:
                problems.append("[%s] is not in [system-dlls]" % dll)
            for name, (number, reason) in names.items():
                where = "%s:%d: %s %s" % (path, number, dll, name)
                if not reason:
                    problems.append(where + " has no reason")
                if name in self.missing or self.is_unicode(dll, name):
                    problems.append(where + " is allowed but " + ("missing" if name in self.missing
                                                                  else "a Unicode call"))
            self.allowed[dll] = set(names)
        if problems:
            raise ValueError("\n".join(problems))

    @staticmethod
    def is_unicode(dll, name):
        if dll.lower() in C_RUNTIMES and name.startswith("_w"):
            return True
        return name.endswith("W")

    def function_faults(self, dll, name):
        """Why one imported function is unfit; empty when it is fit."""
        faults = []
        if name in self.missing:
            faults.append("listed as missing on Windows 95/98/Me")
        if self.is_unicode(dll, name):
            faults.append("a Unicode call (most are failing stubs on Windows 95/98/Me)")
        if not faults and name not in self.allowed.get(dll.lower(), ()):
            faults.append("not on the allow-list (res/win9x_api.txt)")
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
