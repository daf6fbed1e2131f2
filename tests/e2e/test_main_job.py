"""The main job end to end, as scripts/run.sh runs it headless: the sample release published, signed and
served by nginx at the installer's built-in base URL, the installer built with the release's key (it and
the uninstaller Authenticode-signed by the build, with a timestamp) started
under Wine in a fresh prefix on a private Xvfb, install clicked, then a second installation over the
first in the same prefix, removed by the registered uninstaller with /S; then a fresh installation and
--uninstall, which removes it with the registered uninstaller.

The built-in base URL has a fixed port, which other tests may serve at the same time: as root the job runs
in a network namespace of its own; otherwise the driver waits for the port (and serialises with other
main-job runs through a lock file) instead of failing."""

import json
import os
import shutil
import subprocess
import time
import unittest
from pathlib import Path

from mirevale import wine, winefiles
from mirevale.release import crc_list, release_terms

import harness

SETUP = r"C:\Larkspire"
EXPECTED_ENTRY = {
    "DisplayIcon": r"C:\Larkspire\iQorRemote.exe",
    "AppExePath": "iQorRemote.exe",
    "DisplayName": "Mirevale",
    "Publisher": "Mirevale",
    "DisplayVersion": "2.0",
    "InstallLocation": "C:\\Larkspire\\",
    "UninstallString": '"C:\\Larkspire\\UnInstall.exe" "C:\\Larkspire"',
}
CONFIG = r"config\ORB.System.config"


# Brings the loopback interface of a new network namespace up (what `ip link set lo up` does).
LOOPBACK_UP = """
import fcntl, socket, struct
s = socket.socket()
flags = struct.unpack("16sH", fcntl.ioctl(s, 0x8913, struct.pack("16sH", b"lo", 0)))[1]
fcntl.ioctl(s, 0x8914, struct.pack("16sH", b"lo", flags | 1))
"""


def drive(out, args, json_path):
    """Runs the driver under its own private Xvfb; returns (exit status, output, runs seen).
    As root it runs in a network namespace of its own, so the fixed port of the built-in base URL is
    nobody else's there; otherwise it waits for the port."""
    script = '. "$1/scripts/xvfb.sh"; shift; python3 "$@"'
    cmd = ["bash", "-c", script, "drive", str(harness.SOURCE), str(harness.SOURCE / "scripts" / "run_installer.py"),
           "--out", str(out), "--headless", "--wait-port", "900", "--json", str(json_path)] + args
    if os.geteuid() == 0 and shutil.which("unshare"):
        cmd = ["unshare", "--net", "bash", "-c", 'python3 -c "$0" && exec "$@"', LOOPBACK_UP] + cmd
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        output, _ = proc.communicate(timeout=1500)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, 15)
        output, _ = proc.communicate()
    text = output.decode("utf-8", "replace")
    runs = json.loads(json_path.read_text()) if json_path.is_file() else []
    return proc.returncode, text, runs


class MainJobTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.out = harness.scratch("main-job")
        cls.prefix = cls.out / "prefix"
        cls.release = cls.out / "release"

    def path(self, windows_path):
        return winefiles.host_path(self.prefix, windows_path)

    def assert_installed(self, run, output):
        """Everything one complete run leaves behind, read from the stopped prefix."""
        self.assertTrue(run["window"], output)
        self.assertTrue(run["clicked"], output)
        self.assertNotIn("timed_out", run, output)
        self.assertEqual(0, run["exit_code"], output)
        self.assertTrue(run["completed"], output)
        self.assertTrue(run["client_window"], "the client window titled Mirevale did not appear\n" + output)
        self.assertEqual([], run["problems"], output)
        self.assertIn("release signature: valid (key ", output)
        # The installer that ran and the uninstaller it installed carry the build's signature, timestamped,
        # checked against the job's test CA before the run and after it.
        self.assertIn("authenticode: valid (MirevaleSetup.exe and the published UnInstall.exe, against ", output)
        self.assertIn("authenticode: valid: MirevaleSetup.exe (run) and UnInstall.exe (installed", output)
        self.assertEqual(["MirevaleSetup.exe", "UnInstall.exe"], sorted(run["authenticode"]))
        for verdict in run["authenticode"].values():
            self.assertRegex(verdict, r"^valid, signed by /CN=Mirevale test publisher, timestamp .+ GMT "
                                      r"by /CN=Mirevale test time-stamp authority$")
        # The installer verified the signed list and matched every file it used against it; the list carries
        # the release's serial and expiry besides the files, and the job and the installer name the same.
        lines = (self.release / "release.sha256").read_text().splitlines()
        self.assertEqual(len([l for l in lines if not l.split("  ", 2)[2].startswith(":")]), run["signature_listed"])
        serial, expires = release_terms((self.release / "release.sha256").read_bytes())
        self.assertGreaterEqual(serial, 1)
        terms = "serial %d, expires %s UTC" % (serial, time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(expires)))
        self.assertIn("release:     " + terms, output)
        self.assertEqual(terms, run["signature_terms"])
        self.assertGreater(expires, time.time() + 29 * 86400)
        used = {"orbsetup.txt", "UnInstall.exe", "filecrc.txt"} | {name for name, _ in run["packages"]}
        self.assertEqual(sorted(used), sorted(run["signature_matched"]), output)

        listed = crc_list((self.release / "filecrc.txt").read_bytes())
        names = [name for name, _ in listed]
        for wanted in ("iQorRemote.exe", "favicon.ico", CONFIG):
            self.assertIn(wanted, names)
        log = winefiles.decode_log(self.path(r"C:\temp\log.txt").read_bytes())
        for name, crc in listed:
            path = self.path(SETUP + "\\" + name)
            self.assertTrue(path.is_file(), name)
            # The installer checked every listed file, in the list's order, before it wrote the config.
            self.assertIn("[CSetupDlg::CheckFileCRC] %s loacalCRC=%d, netCRC=%d" % (name, crc, crc),
                          "\n".join(log), name)
            if name != CONFIG:
                self.assertEqual(crc, winefiles.file_crc(path), name)

        # The sample's read-only file, which the next installation over this one must replace. The
        # 32-bit runtime's Wine drops the attribute of a file that is created with it and then written.
        read_only = self.path(SETUP + r"\docs\readonly.txt")
        self.assertTrue(read_only.is_file())
        if harness.WIDTH == "x86_64":
            self.assertFalse(read_only.stat().st_mode & 0o222, "docs\\readonly.txt is not read-only")
        self.assertFalse(list(self.prefix.glob("drive_c/Larkspire.previous-*")), "the previous installation stays")

        config = winefiles.read_profile(self.path(SETUP + "\\" + CONFIG))
        sample = winefiles.read_profile(harness.SOURCE / "sample" / "core" / "config" / "ORB.System.config")
        self.assertEqual(["Client", "Server"], sorted(config.sections()))
        self.assertEqual({"Version": "000"}, dict(config["Client"]))
        self.assertEqual(dict(sample["Server"]), dict(config["Server"]))
        self.assertTrue(dict(sample["Server"]))

        uninstaller = self.path(SETUP + r"\UnInstall.exe")
        self.assertTrue(uninstaller.is_file(), "UnInstall.exe is not installed")
        self.assertEqual((self.release / "UnInstall.exe").read_bytes(), uninstaller.read_bytes())

        links = list(winefiles.shortcut_paths(self.prefix).values())
        desktop, menu_client, menu_uninstall = links
        for link in links:
            self.assertTrue(winefiles.is_shell_link(link), link)
        self.assertIn(b"C:\\Larkspire\\iQorRemote.exe", desktop.read_bytes())
        self.assertIn(b"C:\\Larkspire\\iQorRemote.exe", menu_client.read_bytes())
        self.assertIn(b"C:\\Larkspire\\UnInstall.exe", menu_uninstall.read_bytes())
        self.assertIn('"C:\\Larkspire"'.encode("utf-16-le"), menu_uninstall.read_bytes())
        self.assertEqual(["Mirevale.lnk"], sorted(p.name for p in desktop.parent.glob("*.lnk")))
        self.assertEqual(sorted(["Mirevale.lnk", "卸载Mirevale.lnk"]),
                         sorted(p.name for p in menu_client.parent.iterdir()))

        entry = winefiles.reg_file_key(self.prefix / "system.reg", winefiles.UNINSTALL_REG_SECTION)
        self.assertIsNotNone(entry, "no uninstall entry in system.reg")
        # Beside the seven values, the serial of the signed release the run installed.
        expected = dict(EXPECTED_ENTRY, ReleaseSerial=str(serial))
        self.assertEqual({name: ("sz", value) for name, value in expected.items()}, entry)
        # The 32-bit installer's entry is in the 32-bit view only.
        native = winefiles.UNINSTALL_REG_SECTION.replace("Wow6432Node\\\\", "")
        if native != winefiles.UNINSTALL_REG_SECTION:
            self.assertIsNone(winefiles.reg_file_key(self.prefix / "system.reg", native),
                              "an entry in the 64-bit view")

    def test_install_then_install_again(self):
        code, output, runs = drive(self.out, [], self.out / "run1.json")
        self.assertEqual(0, code, output)
        self.assertEqual(1, len(runs), output)
        self.assert_installed(runs[0], output)
        self.assertEqual(0, len(wine.processes(self.prefix)), "the client outlived the job")

        # A file that only the earlier installation had: the new run clears the install folder first.
        stale = self.path(SETUP + r"\stale.txt")
        stale.write_text("left over")
        # An older version's entry: the new run writes its values over it.
        reg = self.prefix / "system.reg"
        text = reg.read_text(encoding="utf-8")
        at = text.lower().index("[" + winefiles.UNINSTALL_REG_SECTION.lower() + "]")
        value = text.index('"DisplayVersion"="2.0"', at)
        reg.write_text(text[:value] + '"DisplayVersion"="1.0"' + text[value + 22:], encoding="utf-8")
        self.assertEqual(("sz", "1.0"), winefiles.reg_file_key(reg, winefiles.UNINSTALL_REG_SECTION)["DisplayVersion"])

        code, output, runs = drive(self.out, ["--again"], self.out / "run2.json")
        self.assertEqual(0, code, output)
        self.assertEqual(1, len(runs), output)
        self.assertIn("installing again over the installation in", output)
        self.assert_installed(runs[0], output)
        self.assertFalse(stale.exists(), "the second installation kept a file of the first")

        # The installation the installer made goes silently, as a deployment script removes it: the
        # registered command with /S, its outcome in the exit code.
        silent = wine.run(self.prefix, [harness.BUILD / "tests" / "uninstall_fixture.exe", "run-entry", "/S"],
                          capture_output=True, timeout=300)
        log = self.path(r"C:\temp\uninstall.txt")
        self.assertEqual(0, silent.returncode, "\n".join(winefiles.decode_log(log.read_bytes())) if log.is_file() else "")
        self.assertTrue(wine.wait_programs_ended(self.prefix), wine.programs(self.prefix))
        wine.stop_wineserver(self.prefix)
        self.assertFalse(self.path(SETUP).exists(), "the install folder stays")
        for link in winefiles.shortcut_paths(self.prefix).values():
            self.assertFalse(link.exists(), link)
        self.assertIsNone(winefiles.reg_file_key(reg, winefiles.UNINSTALL_REG_SECTION), "the entry stays")

        # An unattended install (--silent: /S) in a fresh prefix: no window, exit code 0, the link on the
        # public desktop, no client; its uninstaller from the entry takes that link too.
        code, output, runs = drive(self.out, ["--silent"], self.out / "run-silent.json")
        self.assertEqual(0, code, output)
        self.assertEqual(1, len(runs), output)
        run = runs[0]
        self.assertEqual((True, [], 0, True, [], []), (run["silent"], run["windows_shown"], run["exit_code"],
                                                        run["completed"], run["client_pids"], run["problems"]), output)
        self.assertIn("installer:   unattended (/S), no window shown; exit code 0", output)
        public = winefiles.shortcut_paths(self.prefix, public=True)["public desktop Mirevale.lnk"]
        self.assertTrue(winefiles.is_shell_link(public), output)
        self.assertFalse(winefiles.shortcut_paths(self.prefix)["desktop Mirevale.lnk"].exists())
        silent = wine.run(self.prefix, [harness.BUILD / "tests" / "uninstall_fixture.exe", "run-entry", "/S"],
                          capture_output=True, timeout=300)
        self.assertEqual(0, silent.returncode)
        self.assertTrue(wine.wait_programs_ended(self.prefix), wine.programs(self.prefix))
        wine.stop_wineserver(self.prefix)
        self.assertFalse(public.exists(), "the public desktop link stays after the uninstall")

        # Installed anew, the installation goes through --uninstall, and something of the user's stays.
        code, output, runs = drive(self.out, [], self.out / "run3.json")
        self.assertEqual(0, code, output)
        self.assert_installed(runs[0], output)
        notes = winefiles.shortcut_paths(self.prefix)["desktop Mirevale.lnk"].parent / "notes.txt"
        notes.write_text("the user's")
        code, output, runs = drive(self.out, ["--uninstall"], self.out / "run4.json")
        self.assertEqual(0, code, output)
        self.assertEqual(1, len(runs), output)
        self.assertEqual(["询问", "提示"], runs[0]["answered"], output)
        self.assertEqual([], runs[0]["left"], output)
        self.assertIn("result:      NOTHING LEFT", output)
        self.assertFalse(self.path(SETUP).exists())
        for link in winefiles.shortcut_paths(self.prefix).values():
            self.assertFalse(link.exists(), link)
        self.assertIsNone(winefiles.reg_file_key(self.prefix / "system.reg", winefiles.UNINSTALL_REG_SECTION))
        self.assertEqual("the user's", notes.read_text())

        code, output, runs = drive(self.out, ["--uninstall"], self.out / "run5.json")
        self.assertEqual(3, code, "nothing left to remove\n" + output)

        shutil.rmtree(self.out, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
