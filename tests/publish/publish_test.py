#!/usr/bin/env python3
"""scripts/publish on the demo product's two releases: the updater it makes
carries payloads that turn the old release into the new one; it refuses
trees it cannot make an update from before it writes anything; and its
proof fails when the payloads it built do not make the new release.

    publish_test.py --publish P --sabunn S --facts F --demo DIR --build-dir DIR
                    [unittest arguments, e.g. -k Refusals]
"""
import argparse
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

CONFIG = argparse.Namespace()


def run_publish(*args, sabunn=None):
    cmd = [sys.executable, str(CONFIG.publish), *map(str, args), "--sabunn",
           str(sabunn or CONFIG.sabunn), "--facts", str(CONFIG.facts)]
    return subprocess.run(cmd, capture_output=True, text=True)


class Releases:
    """Copies of the demo product's old and new trees in a scratch folder, to
    be spoilt by a test."""

    def __init__(self, scratch):
        self.root = Path(scratch)
        self.old = self.root / "old"
        self.new = self.root / "new"
        shutil.copytree(CONFIG.demo / "old", self.old)
        shutil.copytree(CONFIG.demo / "new", self.new)

    def payloads_only(self, out="payloads"):
        return run_publish(self.old, self.new, "--payloads-only", "--payload-dir",
                           self.root / out, "--shipped-shape")


class ScratchTest(unittest.TestCase):
    """A test with a scratch folder of its own, self.root."""

    def setUp(self):
        scratch = tempfile.TemporaryDirectory(prefix="publish-test-")
        self.addCleanup(scratch.cleanup)
        self.root = Path(scratch.name)


class Refusals(ScratchTest):
    """Each spoilt pair is refused with a message naming the fault, and no
    payload is written."""

    def setUp(self):
        super().setUp()
        self.r = Releases(self.root)

    def expect_refused(self, text, result=None):
        result = result or self.r.payloads_only()
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn(text, result.stderr)
        self.assertFalse((self.r.root / "payloads").exists())

    def test_a_missing_file(self):
        (self.r.new / "dat" / "Iobjecte.til").unlink()
        self.expect_refused("the new release " + str(self.r.new) + " lacks dat/Iobjecte.til")

    def test_executables_without_the_two_versions(self):
        old_exe = self.r.old / "Morivane.exe"
        shutil.copyfile(self.r.new / "Morivane.exe", old_exe)
        self.expect_refused('the old release\'s Morivane.exe carries "1, 0, 0, 2", '
                            'not "1, 0, 0, 1"')
        shutil.copyfile(CONFIG.demo / "old" / "Morivane.exe", old_exe)
        (self.r.new / "Morivane.exe").write_bytes(b"MZ but nothing more")
        self.expect_refused("the new release's Morivane.exe carries no FileVersion the "
                            "updater can read")

    def test_other_files_must_be_alike(self):
        (self.r.old / "readme.txt").write_text("1.0.0.1\n")
        (self.r.new / "readme.txt").write_text("1.0.0.2\n")
        self.expect_refused("readme.txt differs between the releases")
        (self.r.old / "readme.txt").unlink()
        self.expect_refused("only in old: nothing; only in new: ['readme.txt']")

    def test_links_and_overlapping_output(self):
        (self.r.new / "dat" / "extra").symlink_to("/etc/passwd")
        self.expect_refused("is a link")
        (self.r.new / "dat" / "extra").unlink()
        result = run_publish(self.r.old, self.r.new, "--payloads-only", "--payload-dir",
                             self.r.new / "dat" / "payloads")
        self.expect_refused("nothing may be written into a release", result)
        self.assertFalse((self.r.new / "dat" / "payloads").exists())

    def test_alike_extras_are_accepted(self):
        for tree in (self.r.old, self.r.new):
            (tree / "readme.txt").write_text("Morivane\n")
            (tree / "save").mkdir()
        result = self.r.payloads_only()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("1 other file(s), the same in both releases", result.stdout)
        for pid in (130, 137, 138, 139, 140):
            self.assertTrue((self.r.root / "payloads" / f"{pid}.sabunn").is_file())
            self.assertTrue((self.r.root / "payloads" / f"{pid}.sum").is_file())


# A sabunn that makes payload 139 for a new file whose last byte is not the
# release's: payload and sums agree with each other, the resource check and
# the update pass, and only the comparison with the new release can tell.
ASTRAY_SABUNN = """#!/usr/bin/env python3
import subprocess, sys, tempfile
args = sys.argv[1:]
if args[0] == "make" and args[args.index("-o") + 1].endswith("139.sabunn"):
    data = bytearray(open(args[2], "rb").read())
    data[-1] ^= 0x01
    astray = tempfile.NamedTemporaryFile(delete=False)
    astray.write(bytes(data))
    astray.close()
    args[2] = astray.name
status = subprocess.run([{real!r}] + args).returncode
sys.exit(status)
"""


class Updater(ScratchTest):
    """The whole path on the demo product: payloads, the Win32 build, the
    proof."""

    def publish(self, out, sabunn=None):
        return run_publish(CONFIG.demo / "old", CONFIG.demo / "new", "-o", out,
                           "--shipped-shape", "--win32-build", CONFIG.build_dir, sabunn=sabunn)

    def test_publishes_an_updater_that_carries_the_payloads(self):
        out = self.root / "release"
        result = self.publish(out)
        print(result.stdout, result.stderr)
        self.assertEqual(result.returncode, 0)
        exe = out / "MorivaneUpdate.exe"
        self.assertIn(f"published: {exe}", result.stdout)
        self.assertIn("the updated copy equals the new release", result.stdout)

        # What the executable carries, read back by sabunn: the five
        # payloads and their sums as made into out/payloads.
        extracted = self.root / "extracted"
        subprocess.run([str(CONFIG.sabunn), "extract", str(exe), "-d", str(extracted)],
                       check=True, capture_output=True)
        names = sorted(p.name for p in (out / "payloads").iterdir())
        self.assertEqual(names, [f"{pid}.{kind}" for pid in (130, 137, 138, 139, 140)
                                 for kind in ("sabunn", "sum")])
        self.assertEqual(sorted(p.name for p in extracted.iterdir()), names)
        for name in names:
            self.assertEqual((extracted / name).read_bytes(),
                             (out / "payloads" / name).read_bytes(), name)
        # The shipped shape: 138 and 139 plain, the others HF containers.
        for pid in (130, 137, 138, 139, 140):
            payload = (out / "payloads" / f"{pid}.sabunn").read_bytes()
            self.assertEqual(payload[8:10] == b"HF", pid not in (138, 139), pid)

    def test_a_payload_that_does_not_make_the_new_release_fails_the_proof(self):
        astray = self.root / "sabunn"
        astray.write_text(ASTRAY_SABUNN.format(real=str(CONFIG.sabunn)))
        astray.chmod(0o755)
        out = self.root / "release"
        result = self.publish(out, sabunn=astray)
        print(result.stdout, result.stderr)
        self.assertEqual(result.returncode, 1)
        self.assertIn("[4/5] dat\\Iobjecte.til (payload 139) ... rebuilt", result.stdout)
        self.assertIn("publish: the updated copy's dat/Iobjecte.til is not the new release's",
                      result.stderr)
        self.assertNotIn("published:", result.stdout)
        self.assertFalse((out / "MorivaneUpdate.exe").exists())


def main():
    parser = argparse.ArgumentParser()
    for name in ("publish", "sabunn", "facts", "demo", "build-dir"):
        parser.add_argument("--" + name, type=Path, required=True)
    args, rest = parser.parse_known_args()
    vars(CONFIG).update(vars(args))
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
