#!/usr/bin/env python3
"""Checks that every #include of the project's own headers points down the
layers drawn in the README ("Layout"): each folder may include only the
folders listed for it here. Prints every include that breaks the rule and
exits 1 when there is one."""
import pathlib
import re
import sys

# Folder -> the project folders its sources may include (itself always).
ALLOWED = {
    "decode": set(),
    "seams": set(),
    "pe": {"decode"},
    "patch": {"decode", "seams"},
    "ui": {"seams"},
    "update": {"decode", "seams", "patch"},
    "platform": {"decode", "seams", "pe"},
    "app": {"decode", "seams", "pe", "patch", "ui", "update", "platform", "res"},
    "tools": {"decode", "seams", "pe", "patch", "ui", "update", "platform"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def main(root: pathlib.Path) -> int:
    broken = []
    for folder, allowed in ALLOWED.items():
        for source in sorted((root / folder).rglob("*")):
            if source.suffix not in {".h", ".cpp", ".def", ".c"}:
                continue
            for number, line in enumerate(source.read_text(errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match or "/" not in match.group(1):
                    continue
                target = match.group(1).split("/")[0]
                if target == folder or target not in ALLOWED.keys() | {"res", "tests"}:
                    continue
                if target not in allowed:
                    where = source.relative_to(root)
                    broken.append(f"{where}:{number}: {folder}/ may not include {match.group(1)}")
    for line in broken:
        print(line)
    print(f"{len(broken)} include(s) against the layering" if broken else "layering holds")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")))
