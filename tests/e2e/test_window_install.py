"""The installer window during and after an installation, through real clicks and screenshots: the
slides and the red bar following the progress, what stays inert while installing, closing with and
without the question, a failure in red, a running client that blocks the start, the launch of the
client at the end, and which kind of package the font on the machine selects.

The progress is steered by the release: only a few of its many manifest lines have a kind that this
machine installs, placed so that the progress lands on chosen values, and the download after each
value is held by the server until the window has been looked at."""

import hashlib
import os
import random
import re
import shutil
import stat
import time
import unittest
from pathlib import Path

from mirevale import records, wine, winefiles, xdo

import harness
import installer_window as iw
from window_case import WindowCase

SKIPPED_KINDS = (0, 4, -1, 99)


def steered_manifest(entries, total):
    """`total` manifest lines; `entries` maps a 1-based line number to (name, kind); every other line
    names a package of a kind that no machine installs. After the package on line n the progress is
    n * 95 // total."""
    return [entries.get(n, ("skip%04d.zip" % n, SKIPPED_KINDS[n % len(SKIPPED_KINDS)])) for n in range(1, total + 1)]


def ui_package(flavour):
    return {"ui\\layout.ini": ("[Layout]\r\nflavour=%s\r\n" % flavour).encode()}


def tree(folder):
    """Every entry under `folder` and the folder itself: relative path -> (size and digest of a file's
    bytes, mode bits, mtime in ns). Under Wine a read-only file is one without write bits."""
    found = {}
    for root, dirs, files in os.walk(folder):
        for path in [root] + [os.path.join(root, name) for name in dirs + files]:
            info = os.lstat(path)
            data = None
            if stat.S_ISREG(info.st_mode):
                content = Path(path).read_bytes()
                data = (len(content), hashlib.sha256(content).hexdigest())
            found[os.path.relpath(path, folder)] = (data, info.st_mode, info.st_mtime_ns)
    return found


def previous_installation(prefix):
    """An earlier install in C:\\Larkspire, made from the Linux side: files with times of their own, a
    read-only one, nested and empty folders. Returns its tree()."""
    folder = winefiles.c_drive(prefix) / "Larkspire"
    files = {"iQorRemote.exe": b"MZ old client\r\n" * 300, "favicon.ico": b"\0\0\1\0old icon",
             "config/ORB.System.config": b"<config><server>old.example</server></config>\r\n",
             "readme.txt": b"read me, but do not write me\r\n",
             "data/levels/map01.bin": random.Random(7).randbytes(200 << 10)}
    for name, data in files.items():
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(data)
    (folder / "logs").mkdir()
    (folder / "readme.txt").chmod(0o444)
    # Children before their folders, whose times their creation would move.
    for n, path in enumerate(sorted((folder / name for name in list(files) + ["data/levels", "data", "logs",
                                                                              "config", "."]),
                                    key=lambda p: -len(p.parts))):
        stamp = 1_600_000_000_123_456_789 + n * 86_400_000_000_017
        os.utime(path, ns=(stamp, stamp))
    return tree(folder)


def backups(prefix):
    """The folders beside C:\\Larkspire that hold a previous installation kept aside."""
    return sorted(path.name for path in winefiles.c_drive(prefix).glob("Larkspire.previous-*"))


def backup_record(prefix):
    """The values of the installer's record of a previous installation kept aside."""
    out = wine.run(prefix, ["reg", "query", "HKLM\\%s\\Corvane\\Mirevale Setup" % harness.SOFTWARE],
                   capture_output=True).stdout.decode("utf-8", "replace")
    return {m.group(1): m.group(2).strip() for m in re.finditer(r"^\s+(\S+)\s+REG_SZ\s+(.*)$", out, re.M)}


class InstallWindowTest(WindowCase):
    def assertQuestion(self, installer):
        """The close confirmation is up, as asked for; returns its window."""
        box, report = installer.box("询问")
        self.assertIsNotNone(box, "closing while installing did not ask")
        self.assertEqual("1", report["owned"], "the question is not owned by the installer window")
        texts = [child.split(";", 3) for child in report["child"]]
        self.assertIn("是否终止安装？", [text for _, cls, _, text in texts if cls.lower() == "static"])
        self.assertEqual([("1", "确定"), ("2", "取消")],
                         sorted((cid, text) for cid, cls, _, text in texts if cls.lower() == "button"))
        return box

    def assertClientStarted(self, prefix):
        marker = iw.client_marker(prefix)
        self.assertTrue(iw.wait_until(marker.exists, 30), "the client was not started")
        _, folder = winefiles.decode_log(marker.read_bytes())
        self.assertEqual("c:\\larkspire", folder.lower(), "the client's working folder")

    def test_progress_faces_inert_install_button_and_completion(self):
        total = 950
        manifest = steered_manifest({100: ("p10.zip", 1), 120: ("p12.zip", 1), 130: ("p13.zip", 1),
                                     500: ("p50.zip", 1), 510: ("p51.zip", 1), 870: ("p87.zip", 1),
                                     879: ("ui2.zip", 2), 880: ("ui3.zip", 3)}, total)
        packages = {"p10.zip": iw.core_package(), "ui2.zip": ui_package("yahei"), "ui3.zip": ui_package("basic")}
        for value in (12, 13, 50, 51, 87):
            packages["p%d.zip" % value] = {"steps\\p%d.txt" % value: b"step %d\r\n" % value}
        server = self.serve("window-progress-release", manifest, packages)
        # Each held download keeps the progress at the value before it.
        steps = [("orbsetup.txt", 0, "slide1.png"), ("p12.zip", 10, "slide1.png"), ("p13.zip", 12, "slide1.png"),
                 ("p50.zip", 13, "slide2.png"), ("p51.zip", 50, "slide4.png"), ("p87.zip", 51, "slide1.png"),
                 ("ui3.zip", 87, "slide3.png"), ("UnInstall.exe", 88, "slide4.png"),
                 ("filecrc.txt", 97, "slide4.png")]
        for name, _, _ in steps:
            server.hold(name)
        prefix = self.prefix("window-progress")
        installer = self.start(prefix)
        cursor = self.cursor()

        installer.click(iw.INSTALL)
        self.assertTrue(server.wait_requested("orbsetup.txt"), "the install button did not start the install")
        report = installer.wait_probe(lambda r: r["label1000.visible"] == "1")
        self.assertEqual(("1", "0%", "0"), (report["label1000.visible"], report["label1000.text"],
                                           report["label1001.visible"]))
        self.assertShows(installer, "slide1.png", "start of the install", fill=0)

        # While installing, the install button is no button: no hand, no click, but a drag area.
        installer.move(iw.CLOSE)
        self.assertEqual("hand2", cursor.wait_for(lambda name: name == "hand2"), "cursor over close")
        installer.move(iw.INSTALL)
        self.assertEqual("left_ptr", cursor.wait_for(lambda name: name != "hand2"),
                         "the hand shows over the install button while installing")
        installer.drag(iw.INSTALL, (iw.INSTALL[0] + 40, iw.INSTALL[1] + 20))
        self.assertEqual("40,20,570,380", installer.wait_probe(lambda r: r["window"] == "40,20,570,380")["window"],
                         "the install button did not drag")
        installer.drag(iw.INSTALL, (iw.INSTALL[0] - 40, iw.INSTALL[1] - 20))
        self.assertEqual("0,0,530,360", installer.wait_probe(lambda r: r["window"] == "0,0,530,360")["window"],
                         "dragging back")
        installer.click(iw.INSTALL)

        installer.click(iw.MINIMISE)
        self.assertEqual("1", installer.wait_probe(lambda r: r["iconic"] == "1")["iconic"],
                         "not minimised while installing")
        self.assertEqual("0", installer.probe("restore")["iconic"])

        installer.click(iw.CLOSE)
        box = self.assertQuestion(installer)
        xdo.keys(box, "Escape")
        self.assertTrue(xdo.gone(box), "the question stayed after Cancel")
        self.assertEqual("1", installer.probe()["found"], "Cancel closed the window")

        for index, (name, value, slide) in enumerate(steps):
            if index:
                self.assertTrue(server.wait_requested(name), "the install stopped before %s" % name)
                report = installer.wait_probe(lambda r: r["label1000.text"] == "%d%%" % value)
                self.assertEqual("%d%%" % value, report["label1000.text"])
                self.assertEqual("0", report["label1001.visible"])
                self.assertShows(installer, slide, "progress %d" % value, fill=value * 49 // 10,
                                 save_as="window-installing.png" if value == 50 else None)
            server.let_go(name)

        # Progress 100 stands for the one second before the window closes: look while it does.
        full = None
        deadline = time.monotonic() + 60
        while full is None and installer.showing() and time.monotonic() < deadline:
            try:
                face = installer.shot()
            except iw.WindowGone:
                break
            if iw.bar_rows(face)[0] == 490:
                full = face
        self.assertIsNotNone(full, "the full bar never showed")
        self.assertFace(full, "slide4.png", "progress 100")
        self.assertBar(full, 490, "progress 100")
        self.assertClientStarted(prefix)
        self.assertEnds(installer, "completed install")
        self.assertEqual(0, installer.proc.returncode, "the exit code of a completed install")

        self.assertEqual(1, server.count("orbsetup.txt"), "a second click started a second install")
        self.assertEqual((0, 1), (server.count("ui2.zip"), server.count("ui3.zip")),
                         "without the font the kind 3 package is the one to install")
        layout = winefiles.c_drive(prefix) / "Larkspire" / "ui" / "layout.ini"
        self.assertIn(b"flavour=basic", layout.read_bytes())

    def test_percentage_moves_while_a_large_package_arrives(self):
        big = {"data\\big.dat": random.Random(15).randbytes(4 << 20)}
        server = self.serve("window-slow-release", [("core.zip", 1), ("big.zip", 1)],
                            {"core.zip": iw.core_package(), "big.zip": big})
        server.slow("big.zip", 30)
        installer = self.start(self.prefix("window-slow"))
        installer.click(iw.INSTALL)
        self.assertTrue(server.wait_requested("big.zip"), "the install stopped before big.zip")
        # core.zip's completion shows 47 (the label may still be on its way there), big.zip's 95.
        shown = [47]
        deadline = time.monotonic() + 180
        while shown[-1] < 95 and time.monotonic() < deadline:
            text = installer.probe().get("label1000.text", "")
            if text.endswith("%") and int(text[:-1]) not in (0, shown[-1]):
                shown.append(int(text[:-1]))
        self.assertEqual(sorted(shown), shown, "the percentage went back")
        self.assertGreaterEqual(len([value for value in shown if 47 < value < 95]), 3, shown)
        self.assertGreaterEqual(shown[-1], 95, shown)

    def test_close_asks_while_installing_and_ok_stops_before_the_next_package(self):
        packages = {"a.zip": iw.core_package(), "b.zip": {"b.txt": b"b\r\n"}, "c.zip": {"c.txt": b"c\r\n"}}
        server = self.serve("window-stop-release", [("a.zip", 1), ("b.zip", 1), ("c.zip", 1)], packages)
        server.hold("b.zip")
        prefix = self.prefix("window-stop")
        installer = self.start(prefix)
        installer.click(iw.INSTALL)
        self.assertTrue(server.wait_requested("b.zip"))

        installer.keys("Return")
        self.assertIsNone(xdo.find("询问", timeout=2, proc=installer.proc), "Enter while installing asked")
        self.assertEqual("1", installer.probe()["label1000.visible"], "Enter ended the install")
        for key in ("Escape", "alt+F4"):
            installer.keys(key)
            box = self.assertQuestion(installer)
            xdo.keys(box, "Escape")
            self.assertTrue(xdo.gone(box), "the question stayed after Cancel")
            self.assertEqual("1", installer.probe()["label1000.visible"], "Cancel after %s ended the install" % key)

        installer.click(iw.CLOSE)
        box = self.assertQuestion(installer)
        xdo.keys(box, "Return")
        if harness.RUNNER:
            # Wine 10 (the 32-bit runtime's, either width) takes a destroyed window off the X screen only
            # when its thread reads X events again: here once the download under way has ended.
            server.let_go("b.zip")
        self.assertTrue(installer.gone(), "OK did not close the window")
        server.let_go("b.zip")
        self.assertTrue(installer.exited(), "the installer process went on after OK")
        # Wine's exit status keeps the low 8 bits of the code: 1602, closed before completing.
        self.assertEqual(1602 & 0xFF, installer.proc.returncode, "the exit code of a stopped install")
        self.assertEqual((1, 0, 0), (server.count("b.zip"), server.count("c.zip"), server.count("UnInstall.exe")),
                         "the download under way ends, and nothing after it starts")
        # The stop drops the download under way: nothing of b.zip is written or extracted.
        folder = winefiles.c_drive(prefix) / "Larkspire"
        self.assertEqual((False, False, False), ((folder / "b.txt").exists(), (folder / "c.txt").exists(),
                                                 (winefiles.c_drive(prefix) / "temp" / "b.zip").exists()))
        self.assertFalse(iw.client_marker(prefix).exists(), "a stopped install started the client")

    def test_stop_during_a_slow_download_ends_at_once_and_puts_the_previous_installation_back(self):
        big = {"data\\big.dat": random.Random(23).randbytes(6 << 20)}
        server = self.serve("window-upgrade-stop-release", [("core.zip", 1), ("big.zip", 1)],
                            {"core.zip": iw.core_package(), "big.zip": big})
        # About 250 KiB/s: the stop comes in the middle of the download.
        server.slow("big.zip", 24)
        prefix = self.prefix("window-upgrade-stop")
        before = previous_installation(prefix)
        folder = winefiles.c_drive(prefix) / "Larkspire"
        installer = self.start(prefix)
        installer.click(iw.INSTALL)
        self.assertTrue(server.wait_requested("big.zip"), "the install stopped before big.zip")
        self.assertEqual(1, len(backups(prefix)), "the previous installation was not kept aside")
        self.assertTrue((folder / "config" / "core.txt").exists(), "core.zip is not in the new install folder")

        installer.click(iw.CLOSE)
        box = self.assertQuestion(installer)
        xdo.keys(box, "Return")
        confirmed = time.monotonic()
        self.assertTrue(installer.exited(), "the installer process went on after OK")
        seconds = time.monotonic() - confirmed
        self.assertLess(seconds, 10, "the process ended %.1f s after the stop was confirmed" % seconds)

        self.assertEqual(before, tree(folder), "the previous installation is not back as it was")
        self.assertEqual([], backups(prefix), "a backup stayed beside the install folder")
        self.assertFalse((winefiles.c_drive(prefix) / "temp" / "big.zip").exists(), "the cut download was written")
        self.assertEqual((1, 0), (server.count("big.zip"), server.count("UnInstall.exe")),
                         "the download under way ends, and nothing after it starts")
        lines = winefiles.read_log(prefix)
        stopped = [int(m.group(1)) for line in lines for m in [records.DOWNLOAD_STOPPED.search(line)]
                   if m]
        self.assertEqual(1, len(stopped), lines)
        size = os.path.getsize(os.path.join(server.folder, "big.zip"))
        self.assertTrue(0 < stopped[0] < size, "the stop came after %d of %d bytes" % (stopped[0], size))
        self.assertTrue(any("previous installation restored from" in line for line in lines), lines)

    def test_install_killed_midway_is_undone_at_the_next_start(self):
        packages = {"core.zip": iw.core_package(), "second.zip": {"second.txt": b"second\r\n"}}
        server = self.serve("window-upgrade-kill-release", [("core.zip", 1), ("second.zip", 1)], packages)
        server.hold("second.zip")
        prefix = self.prefix("window-upgrade-kill")
        before = previous_installation(prefix)
        folder = winefiles.c_drive(prefix) / "Larkspire"
        installer = self.start(prefix)
        installer.click(iw.INSTALL)
        self.assertTrue(server.wait_requested("second.zip"), "the install stopped before second.zip")
        self.assertTrue((folder / "config" / "core.txt").exists(), "core.zip is not in the new install folder")

        # As the task manager ends a process: nothing of the installer runs after it.
        wine.run(prefix, ["taskkill", "/f", "/im", "MirevaleSetup.exe"], capture_output=True, check=True)
        self.assertTrue(installer.exited(), "taskkill did not end the installer")
        server.let_go("second.zip")
        kept = backups(prefix)
        self.assertEqual(1, len(kept), "the killed run left no backup")
        self.assertEqual(before, tree(folder.parent / kept[0]), "the backup is not the previous installation")
        self.assertEqual({"InstallFolder": "C:\\Larkspire", "PreviousInstallation": "C:\\" + kept[0]},
                         backup_record(prefix), "the record of the backup")

        again = self.start(prefix)
        # Undone while the window is made, before any click.
        self.assertEqual(before, tree(folder), "the previous installation is not back as it was")
        self.assertEqual([], backups(prefix), "the backup stayed beside the install folder")
        self.assertEqual({}, backup_record(prefix), "the record stayed")
        lines = winefiles.read_log(prefix)
        for record in ("[CSetupDlg::CSetupDlg] an interrupted run left the previous installation in C:\\" + kept[0],
                       "[CSetupDlg::CSetupDlg] previous installation restored from C:\\" + kept[0]):
            self.assertTrue(any(line.endswith(record) for line in lines), "no record %r in %r" % (record, lines))
        self.assertEqual(1, server.count("orbsetup.txt"), "the second start installed")
        self.assertShows(again, "ready.png", "the second start")

    def test_second_copy_refuses_to_install_while_the_first_installs(self):
        server = self.serve("window-two-release", [("core.zip", 1)], {"core.zip": iw.core_package()})
        server.hold("core.zip")
        prefix = self.prefix("window-two")
        first = self.start(prefix)
        first.click(iw.INSTALL)
        self.assertTrue(server.wait_requested("core.zip"), "the first copy did not install")
        second = self.start(prefix)
        self.assertNotEqual(first.window, second.window)
        # The newer window lies over the older one, at the same place.
        self.assertShows(second, "ready.png", "the second copy at its start")

        second.click(iw.INSTALL)
        box, report = second.box("提示")
        self.assertIsNotNone(box, "the second copy did not refuse")
        self.assertEqual("1", report["owned"], "the message is not owned by the second copy's window")
        texts = [child.split(";", 3) for child in report["child"]]
        self.assertIn("另一个安装程序正在安装，请等它结束后再试",
                      [t for _, cls, _, t in texts if cls.lower() == "static"])
        self.assertEqual([("1", "确定")], sorted((cid, t) for cid, cls, _, t in texts if cls.lower() == "button"))
        xdo.keys(box, "Return")
        self.assertTrue(xdo.gone(box), "the message stayed after OK")
        self.assertShows(second, "ready.png", "the second copy after the message")
        self.assertIsNone(second.proc.poll(), "the second copy ended")
        self.assertEqual((1, 1), (server.count("orbsetup.txt"), server.count("core.zip")),
                         "the second copy asked the server")
        # The first copy's log is its own: the second adds to it and never deletes it.
        log = "\n".join(winefiles.read_log(prefix))
        self.assertIn("[CSetupDlg::Execute] start download", log, "the first copy's records are gone")
        self.assertIn("[CSetupDlg::OnInstallButton] another copy of the installer is installing", log)

        server.let_go("core.zip")
        self.assertClientStarted(prefix)
        self.assertEnds(first, "the first copy's completed install")
        # The client the first copy started would stop the next install for a reason of its own.
        wine.run(prefix, ["taskkill", "/f", "/im", "iQorRemote.exe"], capture_output=True, check=True)
        self.assertTrue(iw.wait_until(lambda: not any("iqorremote" in p.lower() for p in wine.programs(prefix)),
                                      60), "the client went on")
        iw.client_marker(prefix).unlink()

        self.assertEqual("0", second.probe()["label1000.visible"], "the second copy's window is not ready")
        second.click(iw.INSTALL)
        self.assertTrue(server.wait_requested("orbsetup.txt", times=2), "the second copy did not install after the first")
        self.assertIsNone(xdo.find("提示", timeout=1, proc=second.proc))
        self.assertClientStarted(prefix)
        self.assertEnds(second, "the second copy's completed install")
        self.assertEqual([], backups(prefix), "the first copy's install stayed aside")

    def test_failure_shows_red_status_and_close_does_not_ask(self):
        server = self.serve("window-fail-release", [("a.zip", 1)], {"a.zip": iw.core_package()},
                            manifest_file=False)
        installer = self.start(self.prefix("window-fail"))
        installer.click(iw.INSTALL)
        report = installer.wait_probe(lambda r: r["label1001.visible"] == "1")
        self.assertEqual(("1", "下载Setupconfig.txt失败"), (report["label1001.visible"], report["label1001.text"]))
        self.assertEqual(("1", "0%"), (report["label1000.visible"], report["label1000.text"]))
        self.assertEqual(1, server.count("orbsetup.txt"))
        face = self.assertShows(installer, "slide1.png", "failed install", fill=0, skip=(iw.STATUS,),
                                save_as="window-failed.png")
        self.assertGreater(iw.red_pixels(face, iw.STATUS), 30, "the failure text is not red")

        installer.click(iw.MINIMISE)
        self.assertEqual("1", installer.wait_probe(lambda r: r["iconic"] == "1")["iconic"],
                         "not minimised after the failure")
        self.assertEqual("0", installer.probe("restore")["iconic"])

        installer.click(iw.CLOSE)
        self.assertIsNone(xdo.find("询问", timeout=3, proc=installer.proc), "closing after a failure asked")
        self.assertEnds(installer, "close after a failure")
        self.assertEqual(1603 & 0xFF, installer.proc.returncode, "the exit code of a failed install")

    def test_running_client_blocks_the_start_until_it_has_ended(self):
        server = self.serve("window-busy-release", [("a.zip", 1)], {"a.zip": iw.core_package()},
                            manifest_file=False)
        prefix = self.prefix("window-busy")
        folder = winefiles.c_drive(prefix) / "Larkspire"
        folder.mkdir()
        shutil.copyfile(iw.CLIENT_STUB, folder / "iQorRemote.exe")
        client = wine.popen(prefix, ["C:\\Larkspire\\iQorRemote.exe"])
        self.addCleanup(lambda: client.poll() is None and (client.kill(), client.wait()))
        self.assertTrue(iw.wait_until(iw.client_marker(prefix).exists, 30), "the client did not start")
        installer = self.start(prefix)

        for attempt in (1, 2):
            installer.click(iw.INSTALL)
            box, report = installer.box("提示")
            self.assertIsNotNone(box, "click %d: the running client did not stop the start" % attempt)
            texts = [child.split(";", 3) for child in report["child"]]
            self.assertIn("程序正在运行，请先关闭程序再安装", [t for _, cls, _, t in texts if cls.lower() == "static"])
            self.assertEqual([("1", "确定")],
                             sorted((cid, t) for cid, cls, _, t in texts if cls.lower() == "button"))
            xdo.keys(box, "Return")
            self.assertTrue(xdo.gone(box))
            self.assertEqual(0, server.count("orbsetup.txt"), "click %d started the install" % attempt)
            self.assertEqual("0", installer.probe()["label1000.visible"])
            self.assertShows(installer, "ready.png", "after the message")

        client.kill()
        client.wait()
        installer.click(iw.INSTALL)
        self.assertTrue(server.wait_requested("orbsetup.txt"), "the click after the client ended did not start")
        self.assertIsNone(xdo.find("提示", timeout=1, proc=installer.proc))

    def test_preferred_font_selects_the_kind_2_package(self):
        server = self.serve("window-font-release", [("core.zip", 1), ("ui2.zip", 2), ("ui3.zip", 3)],
                            {"core.zip": iw.core_package(), "ui2.zip": ui_package("yahei"),
                             "ui3.zip": ui_package("basic")})
        prefix = self.prefix("window-font")
        iw.install_preferred_font(prefix)
        installer = self.start(prefix)
        installer.click(iw.INSTALL)
        self.assertClientStarted(prefix)
        self.assertEnds(installer, "completed install")
        self.assertEqual((1, 0), (server.count("ui2.zip"), server.count("ui3.zip")),
                         "with the font the kind 2 package is the one to install")
        layout = winefiles.c_drive(prefix) / "Larkspire" / "ui" / "layout.ini"
        self.assertIn(b"flavour=yahei", layout.read_bytes())


if __name__ == "__main__":
    unittest.main(verbosity=2)
