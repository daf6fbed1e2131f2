"""Extraction and folder removal where the Windows side cannot set the scene by itself: Unix symbolic
links inside the prefix's drive (Wine shows them as reparse points, the stand-in for junctions), drive
roots handed to DeleteDirectory, and a long run of damaged and hostile archives whose escapes are
looked for on the Linux side. Each case gets a prefix of its own, so a fault harms only a copy."""

import os
import shutil
import subprocess
import unittest

from mirevale import wine, winefiles

import harness

TOKEN = "zz-escape"


def tree(path):
    """Every path below `path` (relative), links listed but not followed."""
    found = set()
    for root, dirs, files in os.walk(path):
        for name in dirs + files:
            found.add(os.path.relpath(os.path.join(root, name), path))
    return found


def discard(prefix):
    """Removes a passed case's prefix copy; a failed case keeps it for a look."""
    wine.stop_wineserver(prefix)
    shutil.rmtree(prefix.parent, ignore_errors=True)


class ZipTest(unittest.TestCase):
    def run_tests(self, prefix, gtest_filter, env=None, timeout=900):
        exe = harness.BUILD / "tests" / "zip_tests.exe"
        proc = wine.run(prefix, [exe, "--gtest_filter=" + gtest_filter], env=env, timeout=timeout,
                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        text = proc.stdout.decode("utf-8", "replace")
        self.assertEqual(0, proc.returncode, text)
        self.assertNotIn("SKIPPED", text)
        return text

    def test_links_and_roots(self):
        prefix = harness.new_prefix("zip-links")
        c = winefiles.c_drive(prefix)
        case = c / "zipcase"
        (case / "Larkspire" / "sub").mkdir(parents=True)
        (case / "Larkspire" / "a.txt").write_text("a")
        (case / "Larkspire" / "sub" / "b.txt").write_text("b")
        (case / "outside" / "inner").mkdir(parents=True)
        (case / "outside" / "keep.txt").write_text("keep")
        (case / "outside" / "inner" / "deep.txt").write_text("deep")
        (case / "emptyout").mkdir()
        (case / "outside2").mkdir()
        (case / "outside2" / "keep2.txt").write_text("keep2")
        (case / "emptyout2").mkdir()
        (case / "outside3").mkdir()
        (case / "Target").mkdir()
        os.symlink("../outside", case / "Larkspire" / "link")
        # Where the system follows the link, removing it as a folder removes an empty target.
        os.symlink("../emptyout", case / "Larkspire" / "link-to-empty")
        os.symlink("outside2", case / "toplink")
        os.symlink("outside2/keep2.txt", case / "filelink")
        os.symlink("../outside/keep.txt", case / "Larkspire" / "link-file")
        os.symlink("emptyout2", case / "toplink-to-empty")
        os.symlink("../outside3", case / "Target" / "linked")
        (c / "root-marker.txt").write_text("root")
        drive_before = tree(c / "windows")

        self.run_tests(prefix, "*Prepared*", env={"MIREVALE_ZIP_PREPARED": r"C:\zipcase"})

        self.assertEqual("keep", (case / "outside" / "keep.txt").read_text())
        self.assertEqual("deep", (case / "outside" / "inner" / "deep.txt").read_text())
        self.assertTrue((case / "emptyout").is_dir())
        self.assertEqual("keep2", (case / "outside2" / "keep2.txt").read_text())
        self.assertEqual(["keep2.txt"], os.listdir(case / "outside2"))
        self.assertTrue((case / "emptyout2").is_dir())
        self.assertEqual([], os.listdir(case / "outside3"))
        self.assertFalse((case / "Larkspire" / "a.txt").exists())
        self.assertFalse((case / "Larkspire" / "sub").exists())
        self.assertEqual("root", (c / "root-marker.txt").read_text())
        self.assertEqual(drive_before, tree(c / "windows"))
        discard(prefix)

    def test_damaged_and_hostile_archives(self):
        prefix = harness.new_prefix("zip-fuzz")
        before = {p for p in tree(prefix.parent) if TOKEN in p}
        text = self.run_tests(prefix, "ZipRobustness.Damaged*",
                              env={"MIREVALE_ZIP_FUZZ_CASES": "6000", "MIREVALE_ZIP_FUZZ_SEED": "7331"},
                              timeout=1100)
        self.assertIn("6000 archives", text)
        # The drive Z: is the Linux root: look beside the prefix and in the usual places as well.
        self.assertEqual(before, {p for p in tree(prefix.parent) if TOKEN in p})
        for place in ("/tmp", "/", harness.BUILD):
            self.assertEqual([], [n for n in os.listdir(place) if TOKEN in n], place)
        discard(prefix)


if __name__ == "__main__":
    unittest.main()
