"""UnInstall.exe under Wine, started the way the system starts it: the uninstall entry's UninstallString,
the Start-menu link, or the program alone. Each case lays out, in its own copy of the prefix, what an
installation leaves (files written here; uninstall entry and links by the installer's own code through
tests/tools/uninstall_fixture.cpp), answers the questions with real keys and then compares the whole of
drive C: and the registry with what was there before."""

import shutil
import subprocess
import time
import unittest

from mirevale import wine, winefiles, xdo

import harness

UNINSTALL = harness.BUILD / "sample" / "UnInstall.exe"
FIXTURE = harness.BUILD / "tests" / "uninstall_fixture.exe"
CLIENT_STUB = harness.BUILD / "tests" / "system_client_stub.exe"
FOLDER = r"C:\Larkspire"
ENTRY = r"HKLM\%s\Microsoft\Windows\CurrentVersion\Uninstall\Corvane Client" % harness.SOFTWARE
OTHER_ENTRY = r"HKLM\%s\Microsoft\Windows\CurrentVersion\Uninstall\Other Client" % harness.SOFTWARE
PROGRAMS = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
UNINSTALL_LINK = PROGRAMS + r"\Mirevale\卸载Mirevale.lnk"

INSTALLED = ["Larkspire/", "Larkspire/UnInstall.exe", "Larkspire/iQorRemote.exe", "Larkspire/favicon.ico",
             "Larkspire/config/", "Larkspire/config/ORB.System.config", "Larkspire/ui/", "Larkspire/ui/layout.ini",
             "Larkspire/ui/skin.dll", "Larkspire/docs/", "Larkspire/docs/说明.txt", "Larkspire/empty/"]
LINKS = ["users/{user}/Desktop/Mirevale.lnk", "ProgramData/Microsoft/Windows/Start Menu/Programs/Mirevale/",
         "ProgramData/Microsoft/Windows/Start Menu/Programs/Mirevale/Mirevale.lnk",
         "ProgramData/Microsoft/Windows/Start Menu/Programs/Mirevale/卸载Mirevale.lnk"]


class Installation:
    """A prefix copy with the client installed in C:\\Larkspire, and things beside it that must stay: a
    folder whose name starts the same way, another product's entry, a file on the desktop."""

    def __init__(self, tag):
        self.prefix = harness.new_prefix("uninstall-" + tag)
        self.c = winefiles.c_drive(self.prefix)
        self.user = next(p.name for p in (self.c / "users").iterdir() if p.is_dir() and p.name != "Public")
        self.folder = self.c / "Larkspire"
        self.started = []
        for name in INSTALLED:
            path = self.c / name
            if name.endswith("/"):
                path.mkdir()
            else:
                path.write_bytes(b"installed " + name.encode())
        shutil.copy(UNINSTALL, self.folder / "UnInstall.exe")
        shutil.copy(CLIENT_STUB, self.folder / "iQorRemote.exe")
        # A read-only file, as an archive item may bring one.
        (self.folder / "ui" / "skin.dll").chmod(0o444)
        (self.c / "Larkspire2").mkdir()
        (self.c / "Larkspire2" / "iQorRemote.exe").write_bytes(b"another client")
        (self.c / "users" / self.user / "Desktop" / "notes.txt").write_bytes(b"the user's")
        self.fixture("install", FOLDER)
        wine.reg_add(self.prefix, OTHER_ENTRY, "InstallLocation", "C:\\Larkspire2\\")

    def add_long_paths(self):
        """Folders of 40 characters in the install folder, down to a file whose Windows path is 259 characters
        (MAX_PATH less the terminator, the longest the installer writes) and a read-only file beside it;
        returns their names in the form of INSTALLED."""
        names = []
        rel = "Larkspire"
        while len("C:\\" + rel) + 1 + 40 + 1 + 20 <= 259:
            rel += "/" + chr(ord("a") + len(names)) * 40
            names.append(rel + "/")
            (self.c / rel).mkdir()
        names += [rel + "/ro.dll", rel + "/" + "n" * (259 - len("C:\\" + rel) - 1 - 4) + ".dll"]
        for name in names[-2:]:
            (self.c / name).write_bytes(b"installed")
        (self.c / names[-2]).chmod(0o444)
        assert len("C:\\" + names[-1]) == 259
        return names

    def links(self):
        return [name.format(user=self.user) for name in LINKS]

    def fixture(self, *args):
        proc = wine.run(self.prefix, [FIXTURE] + list(args), capture_output=True, timeout=300)
        assert proc.returncode == 0, (args, proc.returncode)

    def start(self, *args):
        """Starts a program in the prefix without waiting; the uninstaller's questions are answered after."""
        proc = wine.popen(self.prefix, list(args), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.started.append(proc)
        return proc

    def snapshot(self):
        """Everything on drive C: but the temporary folder (the log, the uninstaller's copies): relative path
        -> content (None for a folder, the target for a link)."""
        tree = {}
        for path in self.c.rglob("*"):
            rel = path.relative_to(self.c).as_posix()
            # rglob does not enter linked folders, so what a link points at is listed only where it lies.
            if rel == "temp" or rel.startswith("temp/"):
                continue
            if path.is_symlink():
                tree[rel] = "-> " + str(path.readlink())
            elif path.is_dir():
                tree[rel + "/"] = None
            else:
                tree[rel] = path.read_bytes()
        return tree

    def registered(self, key):
        return wine.run(self.prefix, ["reg", "query", key], capture_output=True).returncode == 0

    def log(self):
        return "\n".join(winefiles.read_log(self.prefix, winefiles.UNINSTALL_LOG))

    def wait_until_all_ended(self):
        """Every Windows program of the prefix has ended, the uninstaller's copy included."""
        assert wine.wait_programs_ended(self.prefix), wine.programs(self.prefix)

    def discard(self):
        wine.stop_wineserver(self.prefix)
        for proc in self.started:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
        shutil.rmtree(self.prefix.parent, ignore_errors=True)


def answer(case, title, key):
    """Waits for the uninstaller's message box with this caption (its window class is the program's file
    name, so boxes of other tests on the same display do not count) and presses key in it."""
    deadline = time.monotonic() + 60
    window = None
    while window is None and time.monotonic() < deadline:
        titled = xdo.run("search", "--onlyvisible", "--name", "^%s$" % title).stdout.split()
        ours = set(xdo.run("search", "--classname", "^uninstall").stdout.split())
        found = [w for w in titled if w in ours]
        window = found[-1] if found else None
        time.sleep(0.2)
    case.assertIsNotNone(window, "no message box %s; programs running: %s; the uninstaller's log ends: %s"
                         % (title, wine.programs(case.inst.prefix), case.inst.log()[-400:]))
    xdo.keys(window, key)
    case.assertTrue(xdo.gone(window), "message box %s stays" % title)


def run_silently(case, proc, timeout=120):
    """Waits for `proc` (a start of the uninstaller through the fixture) to end, watching meanwhile
    for any visible window of the uninstaller; returns its exit code. A message box would keep the
    program from ending at all."""
    deadline = time.monotonic() + timeout
    seen = set()
    while proc.poll() is None and time.monotonic() < deadline:
        seen.update(xdo.run("search", "--onlyvisible", "--classname", r"^uninstall(-[0-9]+)?\.exe$").stdout.split())
        time.sleep(0.1)
    case.assertEqual(set(), seen, "a window of the uninstaller appeared in silent mode")
    case.assertIsNotNone(proc.poll(), "the silent uninstaller did not end")
    return proc.returncode


def without(tree, names):
    return {k: v for k, v in tree.items() if k not in names}


class UninstallTest(unittest.TestCase):
    def setUp(self):
        self.inst = Installation(self._testMethodName.replace("test_", ""))
        self.before = self.inst.snapshot()

    def tearDown(self):
        self.inst.discard()

    def assert_one_program_in_temp_until_restart(self):
        found = list((self.inst.c / "temp").glob("UnInstall-*.exe"))
        self.assertEqual(1, len(found), found)
        wine.run(self.inst.prefix, ["wineboot", "-r"], capture_output=True, check=True)
        self.assertFalse(found[0].exists())

    def assert_uninstalled(self, also_installed=()):
        self.assertEqual(without(self.before, INSTALLED + list(also_installed) + self.inst.links()),
                         self.inst.snapshot())
        self.assertFalse(self.inst.registered(ENTRY))
        self.assertTrue(self.inst.registered(OTHER_ENTRY))

    def assert_nothing_changed(self):
        self.assertEqual(self.before, self.inst.snapshot())
        self.assertTrue(self.inst.registered(ENTRY))

    def test_uninstall_string_removes_folder_links_and_entry_from_a_copy(self):
        proc = self.inst.start(FIXTURE, "run-entry")
        answer(self, "询问", "y")
        answer(self, "提示", "Return")
        self.assertEqual(0, proc.wait(60))
        self.inst.wait_until_all_ended()
        log = self.inst.log()
        self.assertIn('CommandLine="C:\\Larkspire\\UnInstall.exe" "C:\\Larkspire"', log)
        self.assertIn("[StartCopyFromTemp] continues as", log)
        self.assertIn("done left=0", log)
        # The copy that did the work stays in the temporary folder until the system starts again.
        self.assert_one_program_in_temp_until_restart()
        self.assert_uninstalled()

    def test_silent_uninstall_string_removes_everything_and_exits_0(self):
        code = run_silently(self, self.inst.start(FIXTURE, "run-entry", "/S"))
        self.assertEqual(0, code, self.inst.log())
        self.inst.wait_until_all_ended()
        log = self.inst.log()
        self.assertIn('CommandLine="C:\\Larkspire\\UnInstall.exe" "C:\\Larkspire" /S', log)
        self.assertNotIn("[StartCopyFromTemp]", log)
        self.assertIn("done left=0", log)
        # The program's own file left the folder for the temporary folder, until the system starts again.
        self.assert_one_program_in_temp_until_restart()
        self.assert_uninstalled()

    def test_silent_uninstall_removes_paths_as_long_as_the_installer_writes(self):
        long_paths = self.inst.add_long_paths()
        self.before = self.inst.snapshot()
        code = run_silently(self, self.inst.start(FIXTURE, "run-entry", "/S"))
        self.assertEqual(0, code, self.inst.log())
        self.inst.wait_until_all_ended()
        self.assertIn("done left=0", self.inst.log())
        self.assert_uninstalled(long_paths)

    def test_silent_refusals_and_leftovers_exit_with_their_codes(self):
        other = self.inst.c / "Other"
        other.mkdir()
        (other / "iQorRemote.exe").write_bytes(b"someone's")
        self.before = self.inst.snapshot()
        program = '"C:\\Larkspire\\UnInstall.exe" '
        for command, code in ((program + '"C:\\Other" /S', 2), (program + '/S "C:\\Larkspire" "C:\\Other"', 1)):
            with self.subTest(command=command):
                self.assertEqual(code, run_silently(self, self.inst.start(FIXTURE, "run", command)))
        self.inst.wait_until_all_ended()
        self.assert_nothing_changed()

        client = self.inst.start(FOLDER + r"\iQorRemote.exe")
        marker = self.inst.folder / "client-stub.txt"
        deadline = time.monotonic() + 60
        while not marker.exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertTrue(marker.exists(), "the client did not start")
        running = self.inst.snapshot()
        self.assertEqual(3, run_silently(self, self.inst.start(FIXTURE, "run-entry", "/S")))
        client.kill()
        client.wait()
        self.inst.wait_until_all_ended()
        self.assertEqual(running, self.inst.snapshot())
        self.assertTrue(self.inst.registered(ENTRY))

        # A file held open stays, and the exit code says that something was left.
        signal = harness.scratch("uninstall-signal")
        holder = self.inst.start(FIXTURE, "hold", FOLDER + r"\ui\layout.ini", winefiles.windows_path(signal))
        deadline = time.monotonic() + 60
        while not (signal / "held").exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertTrue((signal / "held").exists(), "the file is not held")
        self.assertEqual(4, run_silently(self, self.inst.start(FIXTURE, "run-entry", "/S")))
        (signal / "release").write_bytes(b"")
        self.assertEqual(0, holder.wait(60))
        self.assertIn("done left=1", self.inst.log())
        self.assertTrue((self.inst.folder / "ui" / "layout.ini").exists())
        self.assertFalse(self.inst.registered(ENTRY))
        shutil.rmtree(signal, ignore_errors=True)

    def test_cancel_at_the_question_changes_nothing(self):
        # "No" is the default button: Return alone keeps the installation.
        self.inst.start(FIXTURE, "run-entry")
        answer(self, "询问", "Return")
        self.inst.wait_until_all_ended()
        self.assert_nothing_changed()
        self.assertIn("cancelled by the user", self.inst.log())
        self.assertNotIn("uninstalling", self.inst.log())

    def test_without_argument_the_registered_folder_is_meant(self):
        self.inst.start(FOLDER + r"\UnInstall.exe")
        answer(self, "询问", "y")
        answer(self, "提示", "Return")
        self.inst.wait_until_all_ended()
        self.assert_uninstalled()

    def test_running_client_blocks_until_it_is_closed_then_the_link_works(self):
        client = self.inst.start(FOLDER + r"\iQorRemote.exe")
        marker = self.inst.folder / "client-stub.txt"
        deadline = time.monotonic() + 60
        while not marker.exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertTrue(marker.exists(), "the client did not start")
        running = self.inst.snapshot()

        self.inst.start(FIXTURE, "open", UNINSTALL_LINK)
        answer(self, "提示", "Return")
        client.kill()
        client.wait()
        self.inst.wait_until_all_ended()
        self.assertEqual(running, self.inst.snapshot())
        self.assertTrue(self.inst.registered(ENTRY))
        self.assertIn("refused: the client runs from folder=C:\\Larkspire", self.inst.log())

        self.inst.start(FIXTURE, "open", UNINSTALL_LINK)
        answer(self, "询问", "y")
        answer(self, "提示", "Return")
        self.inst.wait_until_all_ended()
        self.assert_uninstalled()

    def test_foreign_folders_and_arguments_are_refused_untouched(self):
        other = self.inst.c / "Other"
        other.mkdir()
        (other / "iQorRemote.exe").write_bytes(b"someone's")
        shutil.copy(UNINSTALL, other / "UnInstall.exe")
        self.before = self.inst.snapshot()
        program = '"C:\\Larkspire\\UnInstall.exe" '
        cases = [
            (program + '"C:\\Other"', "reason=NotRegisteredFolder"),
            ('"C:\\Other\\UnInstall.exe" "C:\\Other"', "reason=NotRegisteredFolder"),
            (program + '"C:\\Larkspire2"', "reason=NotRegisteredFolder"),
            (program + '"C:\\Larkspire\\ui"', "reason=NotRegisteredFolder"),
            (program + '"C:\\"', "reason=RootOrEmpty"),
            (program + '"C:"', "reason=RootOrEmpty"),
            (program + '""', "reason=RootOrEmpty"),
            (program + '"C:\\Larkspire" "C:\\Other"', "arguments not understood"),
        ]
        for command, reason in cases:
            with self.subTest(command=command):
                proc = self.inst.start(FIXTURE, "run", command)
                answer(self, "提示", "Return")
                proc.wait(60)
                self.assertIn(reason, self.inst.log().splitlines()[-1])
        self.inst.wait_until_all_ended()
        self.assert_nothing_changed()

    def test_registered_folder_without_client_or_as_a_link_is_refused(self):
        (self.inst.folder / "iQorRemote.exe").unlink()
        self.before = self.inst.snapshot()
        self.inst.start(FIXTURE, "run", '"C:\\Larkspire\\UnInstall.exe" "C:\\Larkspire"')
        answer(self, "提示", "Return")
        self.inst.wait_until_all_ended()
        self.assertIn("reason=NoClient", self.inst.log())
        self.assert_nothing_changed()

        # The registered folder is a symbolic link (a junction to Windows programs) to a real installation.
        real = self.inst.c / "Real"
        self.inst.folder.rename(real)
        shutil.copy(CLIENT_STUB, real / "iQorRemote.exe")
        self.inst.folder.symlink_to(real)
        self.before = self.inst.snapshot()
        self.inst.start(FIXTURE, "run", '"C:\\Real\\UnInstall.exe" "C:\\Larkspire"')
        answer(self, "提示", "Return")
        self.inst.wait_until_all_ended()
        self.assertIn("reason=NotAFolder", self.inst.log())
        self.assert_nothing_changed()
        self.assertTrue((real / "iQorRemote.exe").exists())

    def test_links_elsewhere_stay_and_a_held_file_is_reported_and_left(self):
        # Links of the same names that start another copy of the client belong to someone else.
        self.inst.fixture("links", r"C:\Larkspire2")
        # A folder linked into the installation is not entered: what it points at stays.
        keep = self.inst.c / "Keep"
        keep.mkdir()
        (keep / "data.txt").write_bytes(b"not ours")
        (self.inst.folder / "shared").symlink_to(keep)
        signal = harness.scratch("uninstall-signal")
        holder = self.inst.start(FIXTURE, "hold", FOLDER + r"\ui\layout.ini", winefiles.windows_path(signal))
        deadline = time.monotonic() + 60
        while not (signal / "held").exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertTrue((signal / "held").exists(), "the file is not held")
        self.before = self.inst.snapshot()

        self.inst.start(FIXTURE, "run-entry")
        answer(self, "询问", "y")
        answer(self, "提示", "Return")
        (signal / "release").write_bytes(b"")
        self.assertEqual(0, holder.wait(60))
        self.inst.wait_until_all_ended()

        left = ["Larkspire/", "Larkspire/ui/", "Larkspire/ui/layout.ini", "Larkspire/shared"]
        expected = without(self.before, [n for n in INSTALLED if n not in left])
        self.assertEqual(expected, self.inst.snapshot())
        self.assertEqual(b"not ours", (keep / "data.txt").read_bytes())
        for name in self.inst.links():
            self.assertIn(name, expected)
        self.assertFalse(self.inst.registered(ENTRY))
        log = self.inst.log()
        self.assertIn("[RemoveInstallFolder] left=C:\\Larkspire\\ui\\layout.ini", log)
        self.assertIn("[RemoveInstallFolder] left=C:\\Larkspire\\shared", log)
        self.assertIn("kept link=C:\\users\\%s\\Desktop\\Mirevale.lnk" % self.inst.user, log)
        self.assertIn("done left=2", log)
        shutil.rmtree(signal, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
