#!/usr/bin/env python3
"""The product's facts as the shell and Python sides read them (the build's
generated product_facts.sh and product_facts.json), stated here again on
their own, so that a wrong edit of update/product_facts.cmake or a fault in
what the build generates from it is caught.

    product_facts_test.py FACTS.sh FACTS.json
"""
import json
import subprocess
import sys

PRODUCT = "Morivane"
REGISTRY_KEY = "SOFTWARE\\KESTRON\\Morivane"
VERSIONS = ("1, 0, 0, 1", "1, 0, 0, 2")
TIMESTAMP = 908463600  # 1998-10-15 15:00:00 UTC
EXECUTABLE = "Morivane.exe"
# (payload id, file, stored form as shipped), in the order of the run
FILES = [(130, "Morivane.exe", "packed"), (137, "dat/Iobjectc.til", "packed"),
         (138, "dat/Iobjecto.til", "plain"), (139, "dat/Iobjecte.til", "plain"),
         (140, "dat/Iobjecth.til", "packed")]
SHIPPED_UNIT = 32


def shell_facts(path):
    """The values a bash script sees after sourcing the file, one a line."""
    script = r'''
        set -eu
        . "$1"
        printf '%s\n' "$MORIVANE_PRODUCT_NAME" "$MORIVANE_REGISTRY_KEY" \
            "$MORIVANE_UPDATABLE_VERSION" "$MORIVANE_UPDATED_VERSION" \
            "$MORIVANE_UPDATE_TIMESTAMP" "$MORIVANE_EXECUTABLE_NAME" "$MORIVANE_SHIPPED_UNIT"
        printf 'file %s\n' "${MORIVANE_UPDATE_FILES[@]}"
        printf 'id %s\n' "${MORIVANE_UPDATE_IDS[@]}"
        printf 'plain %s\n' "${MORIVANE_SHIPPED_PLAIN_IDS[@]}"
    '''
    return subprocess.run(["bash", "-c", script, "facts", path], check=True,
                          capture_output=True, text=True).stdout.splitlines()


def main():
    sh_path, json_path = sys.argv[1:3]
    problems = []

    def expect(what, got, wanted):
        if got != wanted:
            problems.append(f"{what}: {got!r}, expected {wanted!r}")

    expect("product_facts.sh", shell_facts(sh_path),
           [PRODUCT, REGISTRY_KEY, *VERSIONS, str(TIMESTAMP), EXECUTABLE, str(SHIPPED_UNIT)]
           + [f"file {path}" for _, path, _ in FILES]
           + [f"id {pid}" for pid, _, _ in FILES]
           + [f"plain {pid}" for pid, _, form in FILES if form == "plain"])

    with open(json_path, encoding="utf-8") as f:
        facts = json.load(f)
    expect("product_facts.json",
           (facts["product"], facts["registryKey"], facts["updatableVersion"],
            facts["updatedVersion"], facts["timestamp"], facts["shippedUnit"]),
           (PRODUCT, REGISTRY_KEY, *VERSIONS, TIMESTAMP, SHIPPED_UNIT))
    expect("product_facts.json files",
           [(r["id"], r["path"], r["shippedForm"], r["executable"]) for r in facts["files"]],
           [(pid, path, form, path == EXECUTABLE) for pid, path, form in FILES])

    for line in problems:
        print("FAIL " + line)
    print(f"{len(problems)} difference(s)" if problems else "the facts read as stated")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
