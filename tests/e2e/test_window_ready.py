"""The installer window before an installation: how it opens and looks, its cursor, the clicks, drags
and keys that must not start anything, minimising, and closing at once. Also a copy of the installer
without its ready artwork, which must still open a working window."""

import shutil
import subprocess
import unittest

from mirevale import wine, winefiles, xdo
from mirevale.faultserver import held_release

import harness
import installer_window as iw
from window_case import WindowCase


class ReadyWindowTest(WindowCase):
    def setUp(self):
        self.release = iw.write_release(harness.scratch("window-ready-release"), [("core.zip", 1)],
                                        {"core.zip": iw.core_package()})
        self.addCleanup(shutil.rmtree, self.release, True)
        self.server = self.enterContext(held_release(self.release, iw.PORT))

    def assertNothingStarted(self, installer, what):
        self.assertEqual(0, self.server.count("orbsetup.txt"), "%s: an installation started" % what)
        report = installer.probe()
        self.assertEqual("0", report["label1000.visible"], "%s: the percentage appeared" % what)
        self.assertShows(installer, "ready.png", what)

    def test_opens_borderless_at_the_origin_with_a_taskbar_button_and_the_ready_face(self):
        installer = self.start(self.prefix("window-open"))
        report = installer.probe()
        self.assertEqual("0,0,530,360", report["window"])
        self.assertEqual("0,0,530,360", report["client"], "a border or caption takes part of the window")
        self.assertEqual("", report["title"])
        style, exstyle = int(report["style"], 16), int(report["exstyle"], 16)
        self.assertTrue(style & iw.WS_POPUP)
        for name, bit in (("caption", iw.WS_CAPTION), ("border", iw.WS_BORDER), ("frame", iw.WS_THICKFRAME),
                          ("dialog frame", iw.WS_DLGFRAME), ("system menu", iw.WS_SYSMENU)):
            self.assertFalse(style & bit, "the window has a %s" % name)
        for name, bit in (("modal frame", iw.WS_EX_DLGMODALFRAME), ("client edge", iw.WS_EX_CLIENTEDGE),
                          ("window edge", iw.WS_EX_WINDOWEDGE), ("tool window", iw.WS_EX_TOOLWINDOW)):
            self.assertFalse(exstyle & bit, "the window has the extended style %s" % name)
        # The taskbar button: an unowned application window, which Wine does not keep off the taskbar.
        self.assertTrue(exstyle & iw.WS_EX_APPWINDOW)
        self.assertEqual("0", report["owner"])
        xprop = subprocess.run(["xprop", "-id", installer.window, "_NET_WM_STATE", "_NET_WM_WINDOW_TYPE"],
                               capture_output=True, text=True).stdout
        self.assertNotIn("SKIP_TASKBAR", xprop)
        self.assertIn("_NET_WM_WINDOW_TYPE_NORMAL", xprop)

        self.assertEqual(("0", "490,341,525,359", "0%"), (report["label1000.visible"], report["label1000.rect"],
                                                         report["label1000.text"]))
        self.assertEqual(iw.SS_RIGHT, int(report["label1000.style"], 16) & iw.SS_TYPEMASK)
        self.assertEqual(("0", "34,324,494,342", ""), (report["label1001.visible"], report["label1001.rect"],
                                                      report["label1001.text"]))
        self.assertEqual(iw.SS_CENTER, int(report["label1001.style"], 16) & iw.SS_TYPEMASK)

        face = self.assertShows(installer, "ready.png", "opening", save_as="window-ready.png")
        self.assertEqual(0, face.differences(iw.skin("ready.png")), "the ready face is not resource 140")

        installer.click(iw.CLOSE)
        self.assertIsNone(xdo.find("询问", timeout=3, proc=installer.proc), "closing when ready asked")
        self.assertEnds(installer, "close button when ready")
        self.assertEqual(0, self.server.count("orbsetup.txt"))

    def test_hand_cursor_clicks_drags_and_keys_that_start_nothing(self):
        installer = self.start(self.prefix("window-inert"))
        cursor = self.cursor()
        for name, point in (("close", iw.CLOSE), ("minimise", iw.MINIMISE), ("install", iw.INSTALL),
                            ("agreement tick", iw.AGREE), ("artwork", (100, 100)), ("install", iw.INSTALL),
                            ("below the install button", (270, 340))):
            installer.move(point)
            want = "left_ptr" if name.startswith(("artwork", "below")) else "hand2"
            self.assertEqual(want, cursor.wait_for(lambda current: current == want), "cursor over the " + name)

        installer.drag(iw.INSTALL, (100, 200), moves=False)
        self.assertNothingStarted(installer, "press on install, release elsewhere in the window")
        installer.drag(iw.INSTALL, None, release_outside_screen=(900, 600), moves=False)
        self.assertNothingStarted(installer, "press on install, release outside the window")
        self.assertEqual((0, 0), installer.origin(), "a press on the install button dragged the window")

        installer.click(iw.AGREE)
        self.assertNothingStarted(installer, "click on the agreement tick")

        installer.drag((100, 100), (160, 130))
        self.assertEqual("60,30,590,390", installer.wait_probe(lambda r: r["window"] == "60,30,590,390")["window"],
                         "pressing on the artwork did not drag")
        installer.drag((100, 100), (40, 70))
        self.assertEqual("0,0,530,360", installer.wait_probe(lambda r: r["window"] == "0,0,530,360")["window"],
                         "dragging back")

        installer.keys("Return")
        self.assertFalse(installer.gone(timeout=3), "Enter closed the window")
        self.assertNothingStarted(installer, "Enter")

        installer.click(iw.MINIMISE)
        self.assertEqual("1", installer.wait_probe(lambda r: r["iconic"] == "1")["iconic"], "not minimised")
        restored = installer.probe("restore")
        self.assertEqual(("0", "0,0,530,360"), (restored["iconic"], restored["window"]))
        self.assertNothingStarted(installer, "minimise and restore")

        installer.keys("Escape")
        self.assertIsNone(xdo.find("询问", timeout=3, proc=installer.proc), "Esc when ready asked")
        self.assertEnds(installer, "Esc when ready")
        self.assertEqual(0, self.server.count("orbsetup.txt"))


class MissingArtworkTest(WindowCase):
    def test_without_resource_140_the_window_opens_and_installs(self):
        release = iw.write_release(harness.scratch("window-noart-release"), [("core.zip", 1)],
                                   {"core.zip": iw.core_package()})
        self.addCleanup(shutil.rmtree, release, True)
        server = self.enterContext(held_release(release, iw.PORT))
        server.hold("orbsetup.txt")
        prefix = self.prefix("window-noart")
        copy = prefix.parent / "MirevaleSetup.exe"
        stripped = wine.run(prefix, [iw.TOOLS / "remove_resource.exe", winefiles.windows_path(iw.EXE),
                                     winefiles.windows_path(copy), "JGP", "140"])
        self.assertEqual(0, stripped.returncode, "resource 140 could not be removed from a copy")

        installer = self.start(prefix, copy)
        report = installer.probe()
        self.assertEqual(("0,0,530,360", "0,0,530,360"), (report["window"], report["client"]))
        face = installer.shot()
        colours = {face.pixel(x, y) for x in range(0, iw.WIDTH, 5) for y in range(0, iw.HEIGHT, 5)}
        self.assertEqual(1, len(colours), "the window drew artwork although its ready image is missing")

        installer.click(iw.INSTALL)
        self.assertTrue(server.wait_requested("orbsetup.txt"), "the install button did not start the install")
        self.assertEqual("1", installer.wait_probe(lambda r: r["label1000.visible"] == "1")["label1000.visible"])
        self.assertShows(installer, "slide1.png", "installing without the ready image", fill=0)
        server.let_go("orbsetup.txt")


if __name__ == "__main__":
    unittest.main(verbosity=2)
