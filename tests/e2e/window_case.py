"""The base of the test_window_* cases: a Wine prefix of its own per case, removed afterwards with
every Windows process started in it, and the checks that several cases share."""

import shutil
import unittest

from mirevale import wine
from mirevale.faultserver import held_release

import harness
import installer_window as iw


class WindowCase(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        iw.isolate_network()

    def serve(self, tag, manifest, packages, manifest_file=True):
        """Serves a release of `packages` at the installer's built-in base URL for the case."""
        release = iw.write_release(harness.scratch(tag), manifest, packages, manifest_file)
        self.addCleanup(shutil.rmtree, release, True)
        return self.enterContext(held_release(release, iw.PORT))

    def prefix(self, tag):
        prefix = harness.new_prefix(tag)

        def remove():
            wine.stop_wineserver(prefix)
            shutil.rmtree(prefix.parent, ignore_errors=True)
        self.addCleanup(remove)
        return prefix

    def start(self, prefix, exe=iw.EXE):
        installer = iw.Installer(prefix, exe)
        self.addCleanup(installer.stop)
        return installer

    def cursor(self):
        cursor = iw.XCursor()
        self.addCleanup(cursor.close)
        return cursor

    def assertFace(self, image, skin_name, what, skip=()):
        """The window shows `skin_name` everywhere but where the bar and the percentage (and `skip`)
        may cover it."""
        differing = image.differences(iw.skin(skin_name), skip=(iw.BAR, iw.PERCENT) + tuple(skip))
        self.assertEqual(0, differing, "%s: %d pixels differ from %s" % (what, differing, skin_name))

    def assertBar(self, image, fill, what):
        self.assertEqual([fill] * (iw.BAR[3] - iw.BAR[1]), iw.bar_rows(image),
                         "%s: the bar should be red for %d pixels, then grey" % (what, fill))

    def assertShows(self, installer, skin_name, what, fill=None, skip=(), save_as=None):
        """The window comes to show `skin_name` (and, with `fill`, a bar red for that many pixels)
        within a generous time: painting follows a label change, a move or a closed box later."""
        def matches():
            matches.face = installer.shot()
            return (matches.face.differences(iw.skin(skin_name), skip=(iw.BAR, iw.PERCENT) + tuple(skip)) == 0
                    and (fill is None or iw.bar_rows(matches.face) == [fill] * (iw.BAR[3] - iw.BAR[1])))
        iw.wait_until(matches, 30)
        if save_as:
            matches.face.save(iw.SHOTS / save_as)
        self.assertFace(matches.face, skin_name, what, skip)
        if fill is not None:
            self.assertBar(matches.face, fill, what)
        return matches.face

    def assertEnds(self, installer, what):
        self.assertTrue(installer.gone(), "%s: the window stayed" % what)
        self.assertTrue(installer.exited(), "%s: the installer process went on" % what)
