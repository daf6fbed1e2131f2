"""MirevaleSetup.exe /S under Wine, as deployment tools start it: no window, message or dialog on the
display while it runs, the whole run of a click on the install button, and an exit code for each
outcome (read whole: Wine's own exit status keeps 8 bits). The release is served at the installer's
built-in base URL, where a download can be held while the display is looked at."""

import shutil
import time
import unittest

from mirevale import wine, winefiles, xdo

import harness
import installer_window as iw
from window_case import WindowCase

INSTALLED, STOPPED, FAILED, ANOTHER_INSTALL = 0, 1602, 1603, 1618
CLIENT_RUNNING, PROXY_CREDENTIALS = 3101, 3103
SILENT = [r"C:\MirevaleSetup.exe", "/S"]
ENTRY = r"HKLM\%s\Microsoft\Windows\CurrentVersion\Uninstall\Corvane Client" % harness.SOFTWARE


class SilentInstallTest(WindowCase):
    def prefix(self, tag):
        prefix = super().prefix(tag)
        shutil.copyfile(iw.EXE, winefiles.c_drive(prefix) / "MirevaleSetup.exe")
        return prefix

    def start(self, prefix, args=SILENT, env=None):
        proc, wait = wine.start_with_exit_code(prefix, args, env)
        self.addCleanup(lambda: proc.poll() is None and (proc.kill(), proc.wait()))
        return proc, wait

    def assertNothingShown(self, proc, until):
        """No window appears on the display from the start until `until()` holds or the run ends."""
        before = set(xdo.visible_ids())
        while proc.poll() is None and not until():
            shown = set(xdo.visible_ids()) - before
            self.assertEqual([], [xdo.run("getwindowname", w).stdout.strip() for w in shown],
                             "a silent run showed windows")
            time.sleep(0.2)

    def registered(self, prefix):
        return wine.run(prefix, ["reg", "query", ENTRY], capture_output=True).returncode == 0

    def desktop_links(self, prefix):
        users = winefiles.c_drive(prefix) / "users"
        return sorted(str(path.relative_to(users)) for path in users.glob("*/Desktop/*.lnk"))

    def test_complete_install_shows_nothing_starts_no_client_and_links_the_public_desktop(self):
        server = self.serve("silent-release", [("core.zip", 1)], {"core.zip": iw.core_package()})
        server.hold("core.zip")
        prefix = self.prefix("silent")
        proc, wait = self.start(prefix)
        self.assertNothingShown(proc, lambda: server.wait_requested("core.zip", timeout=0.2))
        self.assertTrue(server.count("core.zip"), "the silent run did not install")
        # A window may come late: it is looked for while the package is held, and until the end.
        deadline = time.monotonic() + 5
        self.assertNothingShown(proc, lambda: time.monotonic() > deadline)
        server.let_go("core.zip")
        self.assertNothingShown(proc, lambda: False)
        self.assertEqual(INSTALLED, wait())
        self.assertTrue((winefiles.c_drive(prefix) / "Larkspire" / "iQorRemote.exe").exists())
        self.assertTrue(self.registered(prefix), "no uninstall entry")
        self.assertEqual(["Public/Desktop/Mirevale.lnk"], self.desktop_links(prefix))
        time.sleep(2)
        self.assertFalse(iw.client_marker(prefix).exists(), "a silent run started the client")
        self.assertIn("[CSetupDlg::InstallSilently] exit code=0", "\n".join(winefiles.read_log(prefix)))

    def test_launch_starts_the_client_after_the_install(self):
        self.serve("silent-launch-release", [("core.zip", 1)], {"core.zip": iw.core_package()})
        prefix = self.prefix("silent-launch")
        proc, wait = self.start(prefix, SILENT + ["/LAUNCH"])
        self.assertEqual(INSTALLED, wait())
        self.assertTrue(iw.wait_until(iw.client_marker(prefix).exists, 30), "/LAUNCH did not start the client")

    def test_package_that_always_fails_ends_with_1603_and_registers_nothing(self):
        server = self.serve("silent-fail-release", [("core.zip", 1), ("missing.zip", 1)],
                            {"core.zip": iw.core_package()})
        prefix = self.prefix("silent-fail")
        proc, wait = self.start(prefix)
        self.assertNothingShown(proc, lambda: False)
        self.assertEqual(FAILED, wait())
        self.assertEqual(5, server.count("missing.zip"))
        self.assertFalse(self.registered(prefix), "a failed run registered the product")
        self.assertEqual([], self.desktop_links(prefix))

    def test_running_client_and_a_second_copy_change_nothing(self):
        server = self.serve("silent-busy-release", [("core.zip", 1)], {"core.zip": iw.core_package()})
        prefix = self.prefix("silent-busy")
        folder = winefiles.c_drive(prefix) / "Larkspire"
        folder.mkdir()
        shutil.copyfile(iw.CLIENT_STUB, folder / "iQorRemote.exe")
        client = wine.popen(prefix, ["C:\\Larkspire\\iQorRemote.exe"])
        self.addCleanup(lambda: client.poll() is None and (client.kill(), client.wait()))
        self.assertTrue(iw.wait_until(iw.client_marker(prefix).exists, 30), "the client did not start")
        _, wait = self.start(prefix)
        self.assertEqual(CLIENT_RUNNING, wait())
        self.assertEqual(0, server.count("orbsetup.txt"), "the run went on with the client running")
        client.kill()
        client.wait()
        self.assertTrue(iw.wait_until(lambda: not any("iqorremote" in p.lower() for p in wine.programs(prefix)),
                                      60), "the client went on")
        shutil.rmtree(folder)

        server.hold("core.zip")
        first, first_wait = self.start(prefix)
        self.assertTrue(server.wait_requested("core.zip"), "the first copy did not install")
        _, second_wait = self.start(prefix)
        self.assertEqual(ANOTHER_INSTALL, second_wait(300))
        self.assertEqual(1, server.count("orbsetup.txt"), "the second copy asked the server")
        server.let_go("core.zip")
        self.assertEqual(INSTALLED, first_wait())

    def test_proxy_asking_for_credentials_fails_without_a_dialog(self):
        server = self.serve("silent-proxy-release", [("core.zip", 1)], {"core.zip": iw.core_package()})
        prefix = self.prefix("silent-proxy")
        with harness.squid("mirevale", "s3cret") as proxy:
            harness.set_system_proxy(prefix, proxy)
            proc, wait = self.start(prefix)
            self.assertNothingShown(proc, lambda: False)
            self.assertEqual(PROXY_CREDENTIALS, wait())
        self.assertEqual(0, server.count("orbsetup.txt"))
        self.assertIn("which an unattended run cannot ask for", "\n".join(winefiles.read_log(prefix)))
        self.assertFalse(self.registered(prefix))


if __name__ == "__main__":
    unittest.main()
