#!/usr/bin/env python3
"""What `cmake --install` puts into an empty prefix: from the native build
sabunn in bin/ and nothing else, a program that runs from there (its help,
and a payload it makes that it applies back to the new file); from the Win32
build, when one is given and built, MorivaneUpdate.exe in bin/ beside it,
the program the build made, whose payloads the installed sabunn extracts and
which `sabunn update` takes by default (shown on a copy of the demo
product's old tree, when given, up to the confirmation it cannot get).

    install_test.py --cmake CMAKE --build DIR [--win32-build DIR] [--demo DIR]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

CONFIG = argparse.Namespace()


def run(*cmd, cwd=None):
    return subprocess.run([str(c) for c in cmd], capture_output=True, text=True, cwd=cwd,
                          stdin=subprocess.DEVNULL)


def files_below(root):
    return sorted(str(p.relative_to(root)) for p in Path(root).rglob("*") if not p.is_dir())


class Installed(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory(prefix="morivane-install-")
        self.addCleanup(scratch.cleanup)
        self.root = Path(scratch.name)
        self.prefix = self.root / "prefix"
        self.install(CONFIG.build)
        self.sabunn = self.prefix / "bin" / "sabunn"

    def install(self, build):
        r = run(CONFIG.cmake, "--install", build, "--prefix", self.prefix)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_sabunn_alone_in_bin_and_working(self):
        self.assertEqual(files_below(self.prefix), ["bin/sabunn"])
        self.assertTrue(os.access(self.sabunn, os.X_OK))

        r = run(self.sabunn, "--help")
        self.assertEqual(r.returncode, 0, r.stderr)
        for command in ("make", "apply", "info", "extract", "update"):
            self.assertRegex(r.stdout, rf"\n\s+{command}\s")

        # Two versions of a file: bytes changed in one place, inserted in another.
        old = bytes((i * 7 + i // 251) & 0xFF for i in range(40000))
        new = bytearray(old)
        new[100:108] = b"NEWBYTES"
        new[30000:30000] = b"inserted" * 8
        work = self.root / "work"
        work.mkdir()
        (work / "old.bin").write_bytes(old)
        (work / "new.bin").write_bytes(bytes(new))
        r = run(self.sabunn, "make", "old.bin", "new.bin", "-o", "p.sabunn", cwd=work)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertTrue((work / "p.sum").is_file())
        r = run(self.sabunn, "apply", "old.bin", "p.sabunn", "-o", "out.bin", cwd=work)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual((work / "out.bin").read_bytes(), bytes(new))

    def test_updater_beside_sabunn(self):
        win32 = CONFIG.win32_build
        built = win32 / "app" / "win32" / "MorivaneUpdate.exe" if win32 else None
        if not (built and (win32 / "cmake_install.cmake").is_file() and built.is_file()):
            self.skipTest(f"no built Win32 build at {win32}")
        self.install(win32)
        self.assertEqual(files_below(self.prefix), ["bin/MorivaneUpdate.exe", "bin/sabunn"])
        installed = self.prefix / "bin" / "MorivaneUpdate.exe"
        self.assertEqual(installed.read_bytes(), built.read_bytes())

        r = run(self.sabunn, "extract", installed, "-d", self.root / "payloads")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(len(r.stdout.splitlines()), 5, r.stdout)

        old = CONFIG.demo / "old" if CONFIG.demo else None
        if old and old.is_dir():
            installation = self.root / "installation"
            shutil.copytree(old, installation)
            r = run(self.sabunn, "update", "--install-dir", installation)
            self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
            self.assertIn(f"payloads: {installed}\n", r.stdout)
            self.assertIn("confirmation needs a terminal", r.stderr)
            self.assertEqual(files_below(installation), files_below(old))
            for name in files_below(old):
                self.assertEqual((installation / name).read_bytes(), (old / name).read_bytes(),
                                 name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", type=Path, required=True)
    parser.add_argument("--build", type=Path, required=True)
    parser.add_argument("--win32-build", type=Path)
    parser.add_argument("--demo", type=Path)
    args, rest = parser.parse_known_args()
    vars(CONFIG).update(vars(args))
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
