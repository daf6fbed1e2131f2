"""The integrity check and the uninstaller download against nginx: the peer test program writes the
CRC list and UnInstall.exe into the served folder (reached from Wine through drive Z:) before each
check, so one Wine process runs every case."""

import shutil
import unittest

from mirevale import wine, winefiles

import harness


def discard(prefix):
    """Removes a passed case's prefix copy; a failed case keeps it for a look."""
    wine.stop_wineserver(prefix)
    shutil.rmtree(prefix.parent, ignore_errors=True)


class CrcTest(unittest.TestCase):
    def test_check_and_uninstaller(self):
        prefix = harness.new_prefix("crc")
        served = harness.scratch("crc-served")
        with harness.nginx(served) as base_url:
            code, out = harness.run_peer_tests(
                prefix, "crc", env={"MIREVALE_TEST_BASE_URL": base_url,
                                    "MIREVALE_CRC_SERVED": winefiles.windows_path(served)})
        self.assertEqual(0, code, out)
        self.assertIn("[  PASSED  ]", out)
        self.assertNotIn("SKIPPED", out)
        discard(prefix)
        shutil.rmtree(served, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
