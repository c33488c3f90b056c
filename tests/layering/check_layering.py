#!/usr/bin/env python3
"""Checks that every #include of the project's own headers points down the
layers drawn in the README ("Layout"): each folder may include only the
folders listed for it here. Checks too that tests/ mirrors the source
folders: each of its folders is named after a source folder (a tool's
folder for tools/<tool>/) or is one of the suites that take the system as a
whole, and none includes another one's headers but support/'s. Prints every
break of these rules and exits 1 when there is one."""
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
SOURCES = {".h", ".cpp", ".def", ".c"}
# Folders of tests/ that test the system as a whole rather than one folder,
# and the one that holds what the others share.
SUITES = {"e2e", "faults", "hostile", "recovery", "publish", "layering"}
SHARED = "support"


def includes(folder: pathlib.Path):
    """(source, line number, included path) for every quoted include of a
    path with a folder in it, below `folder`."""
    for source in sorted(folder.rglob("*")):
        if source.suffix not in SOURCES:
            continue
        for number, line in enumerate(source.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if match and "/" in match.group(1):
                yield source, number, match.group(1)


def test_folder_breaks(root: pathlib.Path):
    """tests/<name>/ must test a source folder named <name> (or tools/<name>/)
    or be a suite; tests, benchmarks and fuzz targets include other test
    folders' headers only from support/."""
    broken = []
    tests = root / "tests"
    for area in sorted(p for p in tests.iterdir() if p.is_dir()):
        name = area.name
        if name not in SUITES | {SHARED} and name not in ALLOWED and not (root / "tools" / name).is_dir():
            broken.append(f"tests/{name}/: no source folder {name}/ or tools/{name}/ to test")
    users = [(p, p.name) for p in tests.iterdir() if p.is_dir()]
    users += [(root / "bench", None), (root / "fuzz", None)]
    for folder, own in users:
        for source, number, path in includes(folder):
            parts = path.split("/")
            if parts[0] != "tests" or len(parts) < 3 or parts[1] in (own, SHARED):
                continue
            where = source.relative_to(root)
            broken.append(f"{where}:{number}: includes {path}; what test folders share "
                          f"belongs in tests/{SHARED}/")
    return broken


def main(root: pathlib.Path) -> int:
    broken = []
    for folder, allowed in ALLOWED.items():
        for source, number, path in includes(root / folder):
            target = path.split("/")[0]
            if target == folder or target not in ALLOWED.keys() | {"res", "tests"}:
                continue
            if target not in allowed:
                where = source.relative_to(root)
                broken.append(f"{where}:{number}: {folder}/ may not include {path}")
    broken += test_folder_breaks(root)
    for line in broken:
        print(line)
    print(f"{len(broken)} break(s) of the layering" if broken else "layering holds")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")))
