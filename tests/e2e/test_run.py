"""The complete install run (runner and worker threads) under Wine against nginx and the scripted
file server: progress, retries, failure messages, stopping, and the completion steps. The checks
inside the run are in tests/peer/run; this script makes the packages each case is served, starts the
servers and checks what the servers saw."""

import os
import posixpath
import random
import shutil
import threading
import time
import unittest
import zipfile
import zlib

from mirevale import serve, wine, winefiles
from mirevale.faultserver import file_server
from mirevale.release import release_key, sign_release

import harness

CLIENT = b"MZ stand-in client\r\n"
UNINSTALLER = b"MZ stand-in uninstaller\r\n"
CONFIG = "[Server]\r\nHost=download.example\r\n".encode("utf-16")


def served_text(lines):
    """A text file as the server publishes them: UTF-16LE with a byte-order mark, CR LF."""
    return b"\xff\xfe" + "".join(line + "\r\n" for line in lines).encode("utf-16-le")


def package_files(n):
    """What package pNN.zip brings; the first one also the client, its icon and its configuration."""
    files = {"data\\p%02d.dat" % n: ("package %d\n" % n).encode() * (50 * n)}
    if n == 1:
        files.update({"iQorRemote.exe": CLIENT, "favicon.ico": b"\0\0\1\0icon", "config\\ORB.System.config": CONFIG})
    return files


class Release:
    """A served folder: packages, orbsetup.txt, filecrc.txt, UnInstall.exe."""

    def __init__(self, tag):
        self.folder = harness.scratch("run-" + tag)
        self.crc_lines = []

    def package(self, name, files, read_only=()):
        """`read_only` names items stored with Unix mode 0444, as archives made on Linux carry them."""
        with zipfile.ZipFile(self.folder / name, "w", zipfile.ZIP_DEFLATED) as archive:
            for path, data in files.items():
                info = zipfile.ZipInfo(path.replace("\\", "/"), date_time=(2024, 5, 1, 12, 0, 0))
                info.compress_type = zipfile.ZIP_DEFLATED
                info.external_attr = (0o100444 if path in read_only else 0o100644) << 16
                archive.writestr(info, data)
        self.crc_lines += ["%s;%d" % (path, zlib.crc32(data)) for path, data in files.items()]

    def manifest(self, entries):
        (self.folder / "orbsetup.txt").write_bytes(served_text(["%s;%d;%d" % e for e in entries]))

    def finish(self, crc_lines=None, uninstaller=True):
        (self.folder / "filecrc.txt").write_bytes(served_text(self.crc_lines if crc_lines is None else crc_lines))
        if uninstaller:
            (self.folder / "UnInstall.exe").write_bytes(UNINSTALLER)
        return self.folder


def packages(tag, numbers, entries):
    release = Release(tag)
    for n in numbers:
        release.package("p%02d.zip" % n, package_files(n))
    release.manifest(entries)
    return release


def drive_state(drive):
    """Every file and folder of a prefix's drive C: but its temporary folder: path -> (size, mtime) of
    a file, None for a folder."""
    state = {}
    for folder, dirs, files in os.walk(drive):
        rel = os.path.relpath(folder, drive)
        if rel == "temp":
            dirs.clear()
            continue
        state[rel] = None
        for name in files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            state[os.path.join(rel, name)] = (info.st_size, info.st_mtime_ns)
    return state


def installed(n, kind=1, value=0):
    return ("p%02d.zip" % n, value, kind)


class RunTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.new_prefix("run")

    @classmethod
    def tearDownClass(cls):
        wine.stop_wineserver(cls.prefix)
        shutil.rmtree(cls.prefix.parent, ignore_errors=True)

    def peer(self, base, case, key="", mirrors=()):
        env = {"MIREVALE_TEST_BASE_URL": base, "MIREVALE_TEST_RELEASE_KEY": key,
               "MIREVALE_TEST_MIRRORS": " ".join(mirrors)}
        code, out = harness.run_peer_tests(self.prefix, "run", case, env=env, timeout=300)
        self.assertEqual(0, code, out)
        self.assertIn("[  PASSED  ] 1 test", out)

    def run_log(self):
        return "\n".join(winefiles.read_log(self.prefix))

    def test_progress_with_skipped_entries(self):
        eight = [installed(n, kind=1 + n % 2) for n in range(1, 9)]
        skipped = [("s01.zip", 0, 3), ("s02.zip", 0, 7)]
        last = packages("skipped-last", range(1, 9), eight + skipped).finish()
        first = packages("skipped-first", range(1, 9), skipped + eight).finish()
        with file_server() as server:
            for folder, case in ((last, "SkippedEntriesAtTheEndLeaveTheProgressAtTheirShare"),
                                 (first, "SkippedEntriesAtTheStartCountAsHandled")):
                server.reset(folder)
                server.script("UnInstall.exe", "hold file")
                server.script("filecrc.txt", "hold file")
                self.peer(server.base, "RunProgressTest." + case)
                self.assertEqual([0, 0], [server.requests(name) for name in ("s01.zip", "s02.zip")])
                self.assertEqual([1] * 8, [server.requests("p%02d.zip" % n) for n in range(1, 9)])

    def test_attempts(self):
        three = packages("three", range(1, 4), [installed(n) for n in range(1, 4)]).finish()
        after_second = ["p03.zip", "UnInstall.exe", "filecrc.txt"]
        with file_server() as server:
            server.reset(three)
            server.script("p01.zip", *["404"] * 4)
            server.script("p02.zip", *["404"] * 4)
            self.peer(server.base, "RunRetryTest.FourFailedDownloadsThenTheFifthAttemptInstalls")
            self.assertEqual([5, 5, 1], [server.requests("p%02d.zip" % n) for n in range(1, 4)])

            for steps, case in (
                    (["404"] * 5, "PackageThatAlwaysFailsPutsThePreviousInstallationBack"),
                    (["404"] * 4 + ["garbage"], "DownloadFailuresThenACorruptArchiveEndWithTheInstallMessage"),
                    (["garbage"] * 4 + ["404"], "CorruptArchivesThenADownloadFailureEndWithTheDownloadMessage"),
                    (["404"] * 4, "DownloadFailuresThenAnArchiveThatCannotBeCreatedEndWithTheInstallMessage")):
                server.reset(three)
                server.script("p02.zip", *steps)
                self.peer(server.base, "RunRetryTest." + case)
                self.assertEqual(5, server.requests("p02.zip"), case)
                self.assertEqual([0, 0, 0], [server.requests(name) for name in after_second], case)

    def test_cut_off_package(self):
        def release(tag, seed):
            made = packages(tag, (1, 2), [installed(n) for n in range(1, 4)])
            made.package("p03.zip", {"data\\p03.dat": random.Random(seed).randbytes(20 << 20)})
            return made.finish()
        first, changed = release("cut", 1), release("cut-changed", 2)
        size, changed_size = (first / "p03.zip").stat().st_size, (changed / "p03.zip").stat().st_size
        case = "RunRetryTest.PackageCutOffOnceIsInstalledByItsSecondAttempt"
        with file_server() as server:
            for steps in (["cut 50"], ["cut 99"]):
                server.reset(first)
                server.script("p03.zip", *steps)
                self.peer(server.base, case)
                ranges = server.ranges("p03.zip")
                self.assertEqual(None, ranges[0], "the first request is the plain one")
                self.assertEqual(2, len(ranges), steps)
                self.assertTrue(ranges[1].startswith("bytes="), ranges)
                self.assertLessEqual(server.sent("p03.zip"), size * 1.05, steps)

            # A server that ignores the range, and a package replaced between the cut and the retry,
            # send the whole body again.
            server.reset(first)
            server.script("p03.zip", "cut 50", "whole")
            self.peer(server.base, case)
            self.assertEqual(size // 2 + size, server.sent("p03.zip"))
            self.assertIn("[HttpDownload  Range]  status=200 Content-Range=: the whole body again", self.run_log())

            # A body is continued only by the server that sent its first part: when that one fails the
            # resume, the next attempt asks the mirror for the whole body, never for the rest.
            with file_server() as mirror:
                server.reset(first)
                mirror.reset(first)
                server.script("p03.zip", "cut 50", "500")
                self.peer(server.base, "RunRetryTest.CutOffPackageIsContinuedOnlyWhereItBegan", mirrors=[mirror.base])
                self.assertEqual(2, server.requests("p03.zip"))
                self.assertEqual([None], mirror.ranges("p03.zip"))
                self.assertEqual(size, mirror.sent("p03.zip"))
                self.assertEqual(0, mirror.requests("orbsetup.txt"), "what the first server gives comes from it")

            server.reset(first)
            server.script("p03.zip", "cut 50", "hold file")

            def replace():
                if server.wait_arrived("p03.zip"):
                    server.folder = changed
                    server.release("p03.zip")
            replacing = threading.Thread(target=replace)
            replacing.start()
            self.peer(server.base, case)
            replacing.join()
            self.assertEqual(size // 2 + changed_size, server.sent("p03.zip"))
            self.assertIn("[HttpDownload  Range]  status=200 Content-Range=: the whole body again", self.run_log())

    def test_https(self):
        certs = harness.tls_certificates()
        harness.trust_root(self.prefix, certs["root"])
        complete = packages("https", range(1, 4), [installed(1), installed(2, kind=2), installed(3)]).finish()
        with harness.nginx(complete, tls=certs["good"]) as base:
            self.peer(base, "RunCompletionTest.CompleteRunConfiguresLinksShowsAllRegistersAndAsksForTheLaunch")
        # Refused like a missing manifest: its message, nothing removed, nothing installed. WinINet
        # under Wine reports an unknown issuer as a failed revocation check.
        for name, error in (("unknown_issuer", 12057), ("wrong_host", 12038), ("expired", 12037)):
            with harness.nginx(complete, tls=certs[name]) as base:
                self.peer(base, "RunOutcomeTest.MissingManifestEndsTheRunBeforeAnythingIsRemoved")
                self.assertIn("[HttpDownload  InternetOpenUrl]  error=%d lpUrl=%sorbsetup.txt" % (error, base),
                              self.run_log(), name)
                self.assertIn("[HttpDownload  InternetOpenUrl]  certificate refused (", self.run_log(), name)

    def test_name_with_a_folder_part(self):
        release = packages("folder-part", (1, 3), [installed(1), ("sub\\p02.zip", 2, 1), installed(3)])
        release.package("p02.zip", package_files(2))
        (release.folder / "sub").mkdir()
        shutil.copy(release.folder / "p02.zip", release.folder / "sub" / "p02.zip")
        shutil.copy(release.folder / "p02.zip", release.folder / "sub\\p02.zip")
        with harness.nginx(release.finish()) as base:
            self.peer(base, "RunRetryTest.NameWithAFolderPartIsNeverInstalled")

    def test_names_outside_the_temporary_folder(self):
        """Each name would lead the archive out of C:\\temp; garbage is served wherever its URL may
        reach, so an archive written there would stay. Nothing on drive C: outside C:\\temp is new
        or changed after the run."""
        names = [r"..\x.zip", r"..\Windows\x.dll", r"C:\x.zip", r"\x.zip", "x.zip:ads", r"a\..\..\x.zip"]
        root = harness.scratch("run-names")
        for n, name in enumerate(names):
            release = root / str(n) / "EX"
            release.mkdir(parents=True)
            (release / "orbsetup.txt").write_bytes(served_text(["%s;0;1" % name]))
            for target in (release / name, root / posixpath.normpath("%d/EX/%s" % (n, name.replace("\\", "/")))):
                target.parent.mkdir(parents=True, exist_ok=True)
                target.write_bytes(b"not a zip archive\r\n")
        drive = winefiles.c_drive(self.prefix)
        with harness.nginx(root, path="/") as url:
            for n, name in enumerate(names):
                before = drive_state(drive)
                self.peer("%s%d/EX/" % (url, n), "RunRetryTest.NameOutsideTheTemporaryFolderIsNeverFetched")
                after = drive_state(drive)
                self.assertEqual([], sorted(p for p in after if before.get(p, "new") != after[p]), name)

    def test_stop(self):
        two = packages("two", (1, 2), [installed(1), installed(2)]).finish()
        with file_server() as server:
            for step, case in (("hold file", "StopDuringADownloadEndsItAndTheRun"),
                               ("hold 404", "StopDuringAFailingDownloadEndsTheRunWithoutARetry"),
                               ("hold file", "DestroyingTheDialogDuringADownloadWaitsForBothThreads")):
                server.reset(two)
                server.script("p01.zip", step)
                self.peer(server.base, "RunStopTest." + case)
                self.assertEqual([1, 0, 0, 0], [server.requests(name) for name in
                                                ("p01.zip", "p02.zip", "UnInstall.exe", "filecrc.txt")], case)
            # A stop during the last package or the check: the worker has no later attempt to see it at.
            one = packages("one", (1,), [installed(1)]).finish()
            for held, case, requests in (("p01.zip", "StopDuringTheLastPackageRegistersNothing", [1, 0, 0]),
                                         ("filecrc.txt", "StopDuringTheCheckRegistersNothing", [1, 1, 1])):
                server.reset(one)
                server.script(held, "hold file")
                self.peer(server.base, "RunStopTest." + case)
                self.assertEqual(requests, [server.requests(name) for name in
                                            ("p01.zip", "UnInstall.exe", "filecrc.txt")], case)

    def test_missing_uninstaller(self):
        two = packages("no-uninstaller", (1, 2), [installed(1), installed(2)]).finish(uninstaller=False)
        with file_server() as server:
            server.reset(two)
            server.script("UnInstall.exe", "hold file")
            server.script("filecrc.txt", "hold file")
            self.peer(server.base, "RunOutcomeTest.MissingUninstallerStillLeadsTo97AndTheCheck")
            self.assertEqual([1, 1], [server.requests(name) for name in ("UnInstall.exe", "filecrc.txt")])

    def test_crc_mismatch(self):
        release = packages("crc-mismatch", (1, 2), [installed(1), installed(2)])
        good = [line for line in release.crc_lines if not line.startswith("data\\p02.dat;")]
        wrong = "data\\p02.dat;%d" % ((zlib.crc32(package_files(2)["data\\p02.dat"]) + 1) & 0xFFFFFFFF)
        with harness.nginx(release.finish(good + [wrong])) as base:
            self.peer(base, "RunOutcomeTest.CrcMismatchShowsTheCheckFailedAndRemovesNothing")
            self.peer(base, "RunOutcomeTest.CrcMismatchPutsThePreviousInstallationBack")

    def test_previous_folder_held_open(self):
        with harness.nginx(packages("held", (1,), [installed(1)]).finish()) as base:
            self.peer(base, "RunOutcomeTest.PreviousFolderThatCannotBeMovedFailsTheRunBeforeAnythingIsDeleted")

    @unittest.skipUnless(os.geteuid() == 0, "a small drive C: needs root")
    def test_full_disk(self):
        release = packages("full-disk", (1,), [installed(1), ("p02.zip", 0, 1)])
        # Random bytes, stored: the archive fits on the drive, its extraction does not.
        with zipfile.ZipFile(release.folder / "p02.zip", "w", zipfile.ZIP_STORED) as archive:
            archive.writestr("data/big.bin", random.Random(2).randbytes(3 << 20))
        prefix = harness.new_prefix("run-full-disk")
        self.addCleanup(shutil.rmtree, prefix.parent, True)
        with harness.nginx(release.finish()) as base, harness.small_c_drive(prefix, 4 << 20):
            env = {"MIREVALE_TEST_BASE_URL": base, "MIREVALE_TEST_RELEASE_KEY": ""}
            code, out = harness.run_peer_tests(prefix, "run", "RunOutcomeTest.FullDiskPutsThePreviousInstallationBack",
                                               env=env, timeout=300)
        self.assertEqual(0, code, out)
        self.assertIn("[  PASSED  ] 1 test", out)

    def test_links_planted_by_another_user(self):
        """A link in place of the install folder while a download is held, C:\\temp a link before the
        start: nothing of the installer's lands in the links' targets."""
        drive = winefiles.c_drive(self.prefix)
        elsewhere, install = drive / "elsewhere", drive / "Larkspire"
        two = packages("links", (1, 2), [installed(1), installed(2)]).finish()
        with file_server() as server:
            for held in ("p02.zip", "UnInstall.exe"):
                server.reset(two)
                server.script(held, "hold file")
                shutil.rmtree(elsewhere, ignore_errors=True)
                elsewhere.mkdir()

                def plant():
                    if server.wait_arrived(held):
                        shutil.rmtree(install)
                        os.symlink("elsewhere", install)
                        server.release(held)
                planting = threading.Thread(target=plant)
                planting.start()
                try:
                    self.peer(server.base, "RunOutcomeTest.InstallFolderReplacedByALinkDuringTheRunFailsIt")
                finally:
                    planting.join()
                    if install.is_symlink():
                        install.unlink()
                self.assertEqual([], os.listdir(elsewhere), held)

            temp, target = drive / "temp", drive / "temp-target"
            shutil.rmtree(temp, ignore_errors=True)
            shutil.rmtree(target, ignore_errors=True)
            target.mkdir()
            os.symlink("temp-target", temp)
            server.reset(two)
            try:
                env = {"MIREVALE_TEST_BASE_URL": server.base, "MIREVALE_TEST_RELEASE_KEY": "",
                       "MIREVALE_TEST_TEMP_LINK": "1"}
                code, out = harness.run_peer_tests(self.prefix, "run", "RunLinkedTemporaryFolderTest.*", env=env,
                                                   timeout=300)
            finally:
                temp.unlink()
            self.assertEqual(0, code, out)
            self.assertIn("[  PASSED  ] 1 test", out)
            self.assertEqual([], os.listdir(target))
            self.assertEqual(0, server.requests("orbsetup.txt"))
            self.assertFalse(install.exists())

    def test_archive_replaced_when_it_appears(self):
        """Another zip renamed over the archive as soon as it is in C:\\temp: what is installed is the
        served package, nothing of the other zip."""
        release = packages("swapped", (1, 2), [installed(1), installed(2), installed(3)])
        big = random.Random(3).randbytes(24 << 20)
        with zipfile.ZipFile(release.folder / "p03.zip", "w", zipfile.ZIP_STORED) as archive:
            archive.writestr("data/p03.dat", big)
        release.crc_lines.append("data\\p03.dat;%d" % zlib.crc32(big))
        drive = winefiles.c_drive(self.prefix)
        other = drive / "other.zip"
        swapped, done = [], threading.Event()

        def swap():
            archive = drive / "temp" / "p03.zip"
            while not done.is_set():
                if os.path.exists(archive):
                    with zipfile.ZipFile(other, "w", zipfile.ZIP_STORED) as bad:
                        bad.writestr("data/p03.dat", b"other")
                        bad.writestr("evil.dll", b"MZ other")
                    os.rename(other, archive)
                    swapped.append(True)
                    return
        with harness.nginx(release.finish()) as base:
            swapping = threading.Thread(target=swap)
            swapping.start()
            try:
                self.peer(base, "RunCompletionTest.RunOnAMachineWithoutTheInstallFolderCreatesIt")
            finally:
                done.set()
                swapping.join()
        self.assertEqual([True], swapped, "the archive was never seen in C:\\temp")
        install = drive / "Larkspire"
        self.assertFalse((install / "evil.dll").exists())
        self.assertEqual(big, (install / "data" / "p03.dat").read_bytes())

    def test_no_install_folder(self):
        two = packages("no-folder", (1, 2), [installed(1), installed(2)]).finish()
        with file_server() as server:
            server.reset(two)
            self.peer(server.base, "RunOutcomeTest.NoInstallFolderEndsTheRunBeforeTheManifest")
            self.assertEqual(0, server.requests("orbsetup.txt"))

    def test_manifest_failures(self):
        with harness.nginx(harness.scratch("run-no-manifest")) as base:
            self.peer(base, "RunOutcomeTest.MissingManifestEndsTheRunBeforeAnythingIsRemoved")
        no_entries = packages("no-entries", (1,), [])
        (no_entries.folder / "orbsetup.txt").write_bytes(served_text(["p01.zip;1", "p01.zip;1;1;1"]))
        with harness.nginx(no_entries.finish()) as base:
            self.peer(base, "RunOutcomeTest.ManifestWithoutEntriesEndsTheRunBeforeAnythingIsRemoved")

    def test_signed_releases(self):
        pem, key = release_key(harness.scratch("run-key"))
        other, _ = release_key(harness.scratch("run-other-key"))

        def signed(tag, spoil=None, entries=None, leave_out=(), **terms):
            release = packages("signed-" + tag, (1, 2), entries or [installed(1), installed(2)])
            folder = release.finish()
            sign_release(folder, pem, leave_out, **terms)
            if spoil:
                spoil(release, folder)
            return folder

        def write(name, data):
            return lambda release, folder: (folder / name).write_bytes(data)

        def package_changed(release, folder):
            # One byte of data\p02.dat changed, with a CRC list to match: only the signature tells.
            files = package_files(2)
            files["data\\p02.dat"] = b"P" + files["data\\p02.dat"][1:]  # the archive keeps its size
            release.crc_lines = []
            release.package("p01.zip", package_files(1))
            release.package("p02.zip", files)
            release.finish()

        def package_renewed(release, folder):
            # A newer p02.zip beside the release's old list, as a deployment copied half-way leaves it.
            release.package("p02.zip", dict(package_files(2), **{"data\\p02-new.dat": b"new"}))

        manifest = served_text(["p01.zip;0;1", "p02.zip;9;1"])
        refusals = [
            ("RefusedListOrManifestChangesNothing", "release.sha256.sig signature invalid",
             signed("other-key", lambda r, f: sign_release(f, other))),
            ("RefusedListOrManifestChangesNothing", "release.sha256.sig malformed: 63 bytes, not 64",
             signed("short-sig", lambda r, f: (f / "release.sha256.sig").write_bytes(
                 (f / "release.sha256.sig").read_bytes()[:63]))),
            ("RefusedListOrManifestChangesNothing", "release.sha256.sig download failed",
             signed("no-sig", lambda r, f: (f / "release.sha256.sig").unlink())),
            ("RefusedListOrManifestChangesNothing", "orbsetup.txt hash mismatch",
             signed("manifest", write("orbsetup.txt", manifest))),
            ("RefusedListOrManifestChangesNothing", "p02.zip not listed", signed("unlisted", leave_out=("p02.zip",))),
            ("RefusedPackageIsNeverWrittenOrExtracted", "p02.zip hash mismatch", signed("package", package_changed)),
            ("RefusedPackageIsNeverWrittenOrExtracted", "p02.zip size mismatch", signed("old-list", package_renewed)),
            ("RefusedFileAfterThePackagesEndsTheRunUnregistered", "UnInstall.exe hash mismatch",
             signed("uninstaller", write("UnInstall.exe", UNINSTALLER.replace(b"stand-in", b"replaced")))),
            ("RefusedFileAfterThePackagesEndsTheRunUnregistered", "filecrc.txt size mismatch",
             signed("crc-list", write("filecrc.txt", served_text(["data\\p01.dat;1"])))),
        ]
        p02_requests = {"RefusedListOrManifestChangesNothing": 0, "RefusedPackageIsNeverWrittenOrExtracted": 5,
                        "RefusedFileAfterThePackagesEndsTheRunUnregistered": 1}
        uninstaller = winefiles.c_drive(self.prefix) / "Larkspire" / "UnInstall.exe"
        with file_server() as server:
            server.reset(signed("complete", serial=1, expires=int(time.time()) + 86400))
            server.script("p01.zip", "damaged")
            self.peer(server.base, "RunSignedTest.DamagedPackageIsRetriedAndTheSignedReleaseInstalls", key)
            self.assertEqual(2, server.requests("p01.zip"))
            for case, record, folder in refusals:
                server.reset(folder)
                self.peer(server.base, "RunSignedTest." + case, key)
                texts = winefiles.log_texts(self.prefix)
                self.assertTrue(any(t.startswith("[CSetupDlg::CheckRelease] " + record) for t in texts), folder)
                self.assertEqual(p02_requests[case], server.requests("p02.zip"), folder)
                self.assertEqual("filecrc" in record, uninstaller.exists(), folder)

            # Bodies longer than their listed size, declared so or without an end: each attempt fails at
            # the first byte too many, and the server sends little more than what its socket holds.
            complete = signed("bounded")
            listed = (complete / "p02.zip").stat().st_size
            for step in ("longer 1", "endless"):
                server.reset(complete)
                server.script("p02.zip", *[step] * 5)
                self.peer(server.base, "RunSignedTest.RefusedPackageIsNeverWrittenOrExtracted", key)
                self.assertEqual(5, server.requests("p02.zip"), step)
                self.assertLess(server.sent("p02.zip"), 5 * (listed + (16 << 20)), step)
                texts = winefiles.log_texts(self.prefix)
                self.assertEqual(5, sum(t.startswith("[CSetupDlg::CheckRelease] p02.zip size mismatch: longer than "
                                                     "listed, %d bytes" % listed) for t in texts), step)
            server.reset(complete)
            server.script("orbsetup.txt", "endless")
            self.peer(server.base, "RunSignedTest.RefusedListOrManifestChangesNothing", key)
            self.assertIn("[CSetupDlg::CheckRelease] orbsetup.txt size mismatch: longer than listed, %d bytes"
                          % (complete / "orbsetup.txt").stat().st_size, winefiles.log_texts(self.prefix))

            # Over an installation of serial 5: the same serial again (a repair) and a higher one
            # install; a lower one, or a list from before serials, is refused before the manifest.
            for serial in (5, 6):
                server.reset(signed("serial-%d" % serial, serial=serial))
                self.peer(server.base, "RunSignedTest.SameOrNewerReleaseInstallsAndItsSerialIsRecorded", key)
                self.assertIn("[CSetupDlg::CheckRelease] release.sha256 signature valid, 5 files listed, serial %d "
                              "(installed: 5), no expiry" % serial, winefiles.log_texts(self.prefix))
            for serial, named in ((4, 4), (None, 0)):
                server.reset(signed("serial-%s" % serial, serial=serial))
                self.peer(server.base, "RunSignedTest.OlderReleaseIsRefusedAndChangesNothing", key)
                self.assertEqual("[CSetupDlg::CheckRelease] release.sha256 serial %d is below the installed "
                                 "release's 5" % named, winefiles.log_texts(self.prefix)[-1])
                self.assertEqual(0, server.requests("orbsetup.txt"))
            server.reset(signed("expired", serial=1, expires=1599998400))
            self.peer(server.base, "RunSignedTest.ExpiredListIsRefusedWithItsDate", key)
            texts = winefiles.log_texts(self.prefix)
            self.assertIn("[CSetupDlg::CheckRelease] release.sha256 signature valid, 5 files listed, serial 1 "
                          "(installed: 0), expires 2020-09-13 12:00:00 UTC", texts)
            self.assertTrue(texts[-1].startswith("[CSetupDlg::CheckRelease] release.sha256 expired at 2020-09-13 "
                                                 "12:00:00 UTC, the clock says 20"), texts[-1])
            self.assertEqual(0, server.requests("orbsetup.txt"))

    def test_mirrors(self):
        """The base URL refuses connections, the first mirror serves a p02.zip that is not the signed one
        (of the same size), the second the release: every file falls back, p02.zip twice."""
        pem, key = release_key(harness.scratch("run-mirror-key"))
        real = packages("mirror-real", (1, 2), [installed(1), installed(2)]).finish()
        sign_release(real, pem, serial=1)
        tampered = harness.scratch("run-mirror-tampered")
        shutil.copytree(real, tampered, dirs_exist_ok=True)
        other = Release("mirror-other")
        other.package("p02.zip", {"data\\p0X.dat": package_files(2)["data\\p02.dat"]})
        shutil.copy(other.folder / "p02.zip", tampered / "p02.zip")
        self.assertEqual((real / "p02.zip").stat().st_size, (tampered / "p02.zip").stat().st_size)
        closed = "http://127.0.0.1:%d/EX/" % serve.free_port()
        with file_server() as first, file_server() as second:
            first.reset(tampered)
            second.reset(real)
            self.peer(closed, "RunSignedTest.MirrorsStandInForAServerThatFailsOrServesWhatTheListRefuses", key,
                      mirrors=[first.base, second.base])
            self.assertEqual([1, 1], [first.requests("p02.zip"), second.requests("p02.zip")])
            self.assertEqual(0, second.requests("p01.zip"))
        self.assertFalse((winefiles.c_drive(self.prefix) / "Larkspire" / "data" / "p0X.dat").exists())

    def test_complete_runs(self):
        complete = packages("complete", range(1, 4), [installed(1), installed(2, kind=2), installed(3)]).finish()
        with harness.nginx(complete) as base:
            self.peer(base, "RunCompletionTest.CompleteRunConfiguresLinksShowsAllRegistersAndAsksForTheLaunch")
            self.peer(base, "RunCompletionTest.RunOnAMachineWithoutTheInstallFolderCreatesIt")
        if harness.WIDTH == "i686":
            # Wine 10, the 32-bit runtime's, makes no new file read-only (tests/CMakeLists.txt).
            return
        read_only = Release("read-only")
        read_only.package("p01.zip", dict(package_files(1), **{"data\\readonly.txt": b"read-only\r\n"}),
                          read_only=("data\\readonly.txt",))
        read_only.manifest([installed(1)])
        with harness.nginx(read_only.finish()) as base:
            self.peer(base, "RunCompletionTest.ReleaseWithAReadOnlyFileInstallsAgainOverItself")


if __name__ == "__main__":
    unittest.main(verbosity=2)
