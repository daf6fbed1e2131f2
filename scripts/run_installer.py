#!/usr/bin/env python3
"""The main job's driving logic: builds the installer with the sample release's public key (the key is
kept in build/release-key, made on first use) and the uninstaller, both Authenticode-signed with a test
certificate (build/code-signing, made on first use) and timestamped by a time-stamp authority on
loopback, checks both signatures, publishes and signs the sample release, serves it with
nginx at the installer's built-in base URL, runs that installer under Wine in a prefix of its own,
clicks install (or lets a person click on their display) and reports what the installation left behind.

scripts/run.sh calls this after setting up and building; tests/e2e/test_main_job.py runs it headless.

  run_installer.py [--out DIR] [--headless] [--silent] [--again | --twice | --uninstall]
                   [--wait-port SECONDS] [--json FILE]

--silent runs the installer unattended (MirevaleSetup.exe /S): no window, the whole exit code read
(tests/tools/exit_code.cpp), the desktop link on the public desktop, no client started.

--again installs once more over the installation already in DIR/prefix; --twice makes a fresh prefix,
installs, and installs again over it; --uninstall removes the installation in DIR/prefix with its
registered UninstallString and reports what is left. Exit status: 0 when every run completed and left
what it should (for --uninstall: nothing of the product is left), 1 when a run did not complete or
something is missing (left), 2 for usage, 3 when the environment is not usable (base URL port taken,
no template prefix, publishing failed, a program signature that does not verify, nothing installed to
remove)."""

import argparse
import configparser
import contextlib
import errno
import fcntl
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import urllib.parse
import urllib.request
import zlib
from pathlib import Path

SOURCE = Path(os.environ.get("MIREVALE_SOURCE", Path(__file__).resolve().parents[1]))
sys.path.insert(0, str(SOURCE / "tests" / "e2e"))

import harness  # noqa: E402  (tests/e2e, found through sys.path)
import xdo  # noqa: E402

BUILD = harness.BUILD
RELEASE_KEY = SOURCE / "build" / "release-key" / "sample-release.pem"
CODE_SIGNING = SOURCE / "build" / "code-signing"
PUBLISH_SAMPLE = SOURCE / "tools" / "publish" / "publish-sample.sh"
PUBLISHER = Path(os.environ.get("MIREVALE_PUBLISH", SOURCE / "build" / "native" / "mirevale-publish"))

# The installer's entry, in the registry view of its width (harness.SOFTWARE).
UNINSTALL_KEY = r"HKLM\%s\Microsoft\Windows\CurrentVersion\Uninstall\Corvane Client" % harness.SOFTWARE
UNINSTALL_REG_SECTION = UNINSTALL_KEY.split("\\", 1)[1].replace("\\", "\\\\")
PROGRAMS = Path("ProgramData/Microsoft/Windows/Start Menu/Programs")
CLIENT_TITLE = "Mirevale"
CONFIG_NAME = r"config\ORB.System.config"
WINDOW_SIZE = (530, 360)
INSTALL_BUTTON = ((182 + 359) // 2, (290 + 332) // 2)  # centre of the install button, client pixels
CLOSE_BUTTON = ((500 + 530) // 2, 16)

# Log records after which the worker has given up: the window then stays on its failure face.
FAILURE_RECORDS = [re.compile(p) for p in (
    r"\[CSetupDlg::Execute\] CheckFileCRC failed",
    r"\[CSetupDlg::Execute\] download Setupconfig\.txt fail",
    r"\[CSetupDlg::Execute\] ?Setupconfig\.txt no content",
    r"\[CSetupDlg::Execute\] download \S+ failed$",
    r"\[CSetupDlg::Execute\] \S+ CreateFile\(",
    r"\[CSetupDlg::Execute\] \S+ path too long$",
    r"\[CSetupDlg::Execute\] \S+ name outside the temp folder$",
    r"\[CSetupDlg::Run\] CreateThread error",
    r"install stopped by an unexpected error",
    r"\[CSetupDlg::CheckRelease\] (\S+ not listed|(release\.sha256\S*|built-in key|orbsetup\.txt|UnInstall\.exe"
    r"|filecrc\.txt) (?!matches|signature valid))",
)]
STARTED_RECORD = " start download  "  # the signed list's download, or the manifest's
SIGNATURE_RECORD = re.compile(
    r"\[CSetupDlg::CheckRelease\] release\.sha256 signature valid, (\d+) files listed, (.*) \(installed: \d+\), (.*)$")
MATCH_RECORD = re.compile(r"\[CSetupDlg::CheckRelease\] (.+) matches$")
# The main job's release expires this long after it is published (each run publishes it again).
RELEASE_EXPIRY_DAYS = 30
COMPLETED_RECORD = "[CSetupDlg::WriteRegistry] UninstallString"
CRC_RECORD = re.compile(r"\[CSetupDlg::CheckFileCRC\] (.+) loacalCRC=(\d+), netCRC=(\d+)$")
DOWNLOAD_RECORD = re.compile(r"\[CSetupDlg::Execute\] download (\S+) sccuss filesize=(\d+)$")


class Unusable(Exception):
    """The job cannot run here (exit status 3)."""


def say(text=""):
    print(text, flush=True)


# ---------------------------------------------------------------------------------------------------
# Readers, shared with the end-to-end test.

def base_url_from_cache(build=BUILD):
    cache = Path(build) / "CMakeCache.txt"
    if not cache.is_file():
        raise Unusable("%s is missing: build first (scripts/build.sh)" % cache)
    for line in cache.read_text(errors="replace").splitlines():
        if line.startswith("MIREVALE_BASE_URL:"):
            return line.split("=", 1)[1].strip()
    raise Unusable("MIREVALE_BASE_URL is not in %s" % cache)


def served_text_lines(data):
    """Lines of a served UTF-16LE text (byte-order mark, CR LF), empty lines dropped."""
    text = data[2:].decode("utf-16-le", "replace").split("\0", 1)[0]
    return [line.strip("\r\n") for line in text.split("\r") if line.strip("\r\n")]


def crc_list(data):
    """(name with backslashes, crc) for every usable line of filecrc.txt, in file order."""
    entries = []
    for line in served_text_lines(data):
        fields = [f for f in line.split(";") if f]
        if len(fields) == 2:
            digits = re.match(r"\s*([+-]?)(\d*)", fields[1])
            value = int(digits.group(2) or 0)
            value = (-value) % 2**32 if digits.group(1) == "-" else min(value, 2**32 - 1)
            entries.append((fields[0], value))
    return entries


def host_path(prefix, windows_path):
    """The Linux path of C:\\... inside a prefix."""
    drive, rest = windows_path.split(":", 1)
    assert drive.upper() == "C", windows_path
    return harness.c_drive(prefix).joinpath(*[p for p in re.split(r"[\\/]", rest) if p])


def file_crc(path):
    return zlib.crc32(Path(path).read_bytes()) & 0xFFFFFFFF


def read_profile(path):
    """A Windows profile (INI) file as a ConfigParser with case kept; UTF-16 with BOM or code page 936."""
    data = Path(path).read_bytes()
    if data[:2] in (b"\xff\xfe", b"\xfe\xff"):
        text = data.decode("utf-16")
    else:
        text = data.decode("gbk", "replace")
    parser = configparser.ConfigParser(interpolation=None, strict=False)
    parser.optionxform = str
    parser.read_string(text)
    return parser


def _unescape_reg(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x":
                m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def reg_file_key(reg_file, section):
    """The values of one key of a flushed system.reg/user.reg: {name: (kind, value)}, or None if absent.
    kind is "sz" for REG_SZ ("..."), otherwise the raw type tag (dword, hex(2), ...)."""
    lines = Path(reg_file).read_text(encoding="utf-8", errors="replace").splitlines()
    header = "[" + section.lower() + "]"
    values = None
    for line in lines:
        if values is None:
            if line.lower().startswith(header):
                values = {}
            continue
        if not line.strip() or line.startswith("["):
            break
        m = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line)
        if not m:
            continue
        name, raw = _unescape_reg(m.group(1)), m.group(2)
        if raw.startswith('"') and raw.endswith('"'):
            values[name] = ("sz", _unescape_reg(raw[1:-1]))
        else:
            kind, _, value = raw.partition(":")
            values[name] = (kind, value)
    return values


def decode_log(data):
    return harness.utf16_lines(data) if data else []


def shortcut_paths(prefix, public=False):
    """The three shortcuts the installer makes: desktop (public: the all-users one, where an unattended
    run puts it), Start-menu client, Start-menu uninstaller."""
    users = harness.c_drive(prefix) / "users"
    desktop = [p / "Desktop" / "Mirevale.lnk" for p in sorted(users.iterdir()) if (p.name == "Public") == public]
    programs = harness.c_drive(prefix) / PROGRAMS / "Mirevale"
    return {
        "%sdesktop Mirevale.lnk" % ("public " if public else ""):
            desktop[0] if desktop else users / "?" / "Desktop" / "Mirevale.lnk",
        "Start menu Mirevale\\Mirevale.lnk": programs / "Mirevale.lnk",
        "Start menu Mirevale\\卸载Mirevale.lnk": programs / "卸载Mirevale.lnk",
    }


def is_shell_link(path):
    head = Path(path).read_bytes()[:20] if Path(path).is_file() else b""
    return head == bytes.fromhex("4c000000" "0114020000000000c000000000000046")


def client_processes(prefix, program=b"iqorremote.exe"):
    """Linux pids of iQorRemote.exe processes (or of another program) running in this prefix."""
    pids = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes()
            if program not in cmdline.lower():
                continue
            environ = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if ("WINEPREFIX=%s" % prefix).encode() in environ:
            pids.append(int(entry.name))
    return pids


# ---------------------------------------------------------------------------------------------------
# The signing key and the installer built with it.

def release_key(pem=RELEASE_KEY):
    """The sample release's private key and its public key's hex, made by the publisher on first use. It
    lives in the build tree like any other generated file and is never committed."""
    pub = pem.with_suffix(".pub")
    if not pem.is_file():
        pem.parent.mkdir(parents=True, exist_ok=True)
        proc = subprocess.run([str(PUBLISHER), "keygen", str(pem)], capture_output=True, text=True)
        if proc.returncode != 0:
            raise Unusable("mirevale-publish keygen %s failed: %s" % (pem, proc.stderr.strip()))
        pub.write_text(proc.stdout)
        say("made the sample release's key %s (public key in %s)" % (pem, pub))
    if not pub.is_file():
        raise Unusable("%s has no public key file %s: remove the key to make a new one" % (pem, pub))
    return pem, pub.read_text().strip()


def code_signing_certificates(folder=CODE_SIGNING):
    """The test CA and the code-signing and time-stamp certificates it issued, made on first use and kept
    in the build tree like the release key (never committed)."""
    made = not all((folder / name).is_file() for name in harness.CODE_SIGNING_FILES)
    certificates = harness.code_signing_certificates(folder)
    if made:
        say("made the test code-signing CA and certificates in %s" % folder)
    return certificates


def keyed_installer(key_hex, arch="x86_64", base_url=None, build=None, certificates=None, tsa_url=None):
    """Builds, for `arch`, the installer with the public key compiled in, the uninstaller and the sample
    client in `build` (by default build/main-job-<arch>; the test builds stay unsigned and keyless); with
    `certificates`, the installer and the uninstaller are Authenticode-signed by the build with the test
    certificate and a timestamp from `tsa_url`. Returns the installer."""
    build = build or SOURCE / "build" / ("main-job-" + arch)
    configure = ["cmake", "-S", str(SOURCE), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release", "-DMIREVALE_TESTS=OFF",
                 "-DCMAKE_TOOLCHAIN_FILE=%s" % (SOURCE / "cmake" / ("toolchain-%s.cmake" % arch)),
                 "-DMIREVALE_BASE_URL=" + (base_url or base_url_from_cache()), "-DMIREVALE_RELEASE_KEY=" + key_hex,
                 "-DMIREVALE_SIGN_CERT=%s" % (certificates["signer"] if certificates else ""),
                 "-DMIREVALE_SIGN_KEY=%s" % (certificates["signer_key"] if certificates else ""),
                 "-DMIREVALE_SIGN_TSA=" + (tsa_url or "")]
    say("building the installer with the release key, and the uninstaller%s, in %s"
        % (", signed" if certificates else "", build))
    targets = ["MirevaleSetup", "UnInstall", "sample_client"]
    for command in (configure, ["cmake", "--build", str(build), "--target"] + targets + ["-j", str(os.cpu_count())]):
        proc = subprocess.run(command, capture_output=True, text=True)
        if proc.returncode != 0:
            raise Unusable("%s failed:\n%s%s" % (" ".join(command), proc.stdout[-3000:], proc.stderr[-3000:]))
    return build / "MirevaleSetup.exe"


def authenticode(certificates, programs):
    """scripts/sign.sh verify of `programs` against the test CA, timestamp required: (valid, the
    lines it printed)."""
    proc = harness.verify_programs(certificates, programs)
    return proc.returncode == 0, (proc.stdout + proc.stderr).strip().splitlines()


# ---------------------------------------------------------------------------------------------------
# Peers: the release and its server.

def publish(release, pem, key_hex, build=BUILD):
    say("publishing the sample release into %s, signed with %s, expiring in %d days"
        % (release, pem, RELEASE_EXPIRY_DAYS))
    proc = subprocess.run([str(PUBLISH_SAMPLE), str(release), str(build), "--sign", str(pem),
                           "--expires", str(RELEASE_EXPIRY_DAYS)], capture_output=True, text=True)
    if proc.returncode != 0:
        raise Unusable("publish-sample.sh failed (%d):\n%s%s" % (proc.returncode, proc.stdout, proc.stderr))
    check(release, key_hex)
    say("release signature: valid (key %s)" % key_hex)
    serial, expires = release_terms((Path(release) / "release.sha256").read_bytes())
    say("release:     serial %d, %s" % (serial, "expires %s UTC" % time.strftime("%Y-%m-%d %H:%M:%S",
                                                                             time.gmtime(expires))
                                        if expires is not None else "no expiry"))


def release_terms(data):
    """(serial, expiry in Unix seconds or None) of a release.sha256: the lines of reserved names ':serial'
    and ':expires' (serial 0 when it has none, a list from before serials)."""
    terms = {}
    for line in data.decode("utf-8").splitlines():
        digest, size, name = line.split("  ", 2)
        if name.startswith(":"):
            terms[name] = int(size)
    return terms.get(":serial", 0), terms.get(":expires")


def check(where, key_hex):
    proc = subprocess.run([str(PUBLISHER), "--check", str(where), "--key", key_hex], capture_output=True, text=True)
    lines = (proc.stdout + proc.stderr).splitlines()
    for line in lines if proc.returncode != 0 else lines[-1:]:
        say("  --check " + line)
    if proc.returncode != 0:
        raise Unusable("mirevale-publish --check %s failed (%d)" % (where, proc.returncode))


def port_taken(port):
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
        except OSError as e:
            if e.errno == errno.EADDRINUSE:
                return True
            raise
    return False


def port_holder(port):
    if not shutil.which("ss"):
        return ""
    out = subprocess.run(["ss", "-Hltnp", "sport = :%d" % port], capture_output=True, text=True).stdout.strip()
    return (" (" + " ".join(out.split()) + ")") if out else ""


@contextlib.contextmanager
def port_lock(port, wait):
    """Serialises the runs that serve the built-in base URL on this machine."""
    path = Path("/tmp/mirevale-base-url-%d.lock" % port)
    with open(path, "a") as f:
        deadline = time.monotonic() + wait
        while True:
            try:
                fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() >= deadline:
                    raise Unusable("another main-job run holds %s" % path)
                time.sleep(0.5)
        yield


@contextlib.contextmanager
def serve(release, base_url, work, wait):
    """nginx serving `release` at exactly the built-in base URL; fails when the port is someone else's."""
    url = urllib.parse.urlsplit(base_url)
    if url.hostname not in ("127.0.0.1", "localhost"):
        raise Unusable("the installer was built for %s, which this machine cannot serve; rebuild with "
                       "-DMIREVALE_BASE_URL=http://127.0.0.1:PORT/EX/" % base_url)
    port = url.port or 80
    with port_lock(port, wait):
        deadline = time.monotonic() + wait
        while True:
            while port_taken(port):
                if time.monotonic() >= deadline:
                    raise Unusable("port %d of the built-in base URL %s is taken%s; stop what listens there "
                                   "(or build with another -DMIREVALE_BASE_URL)" % (port, base_url, port_holder(port)))
                time.sleep(1)
            proc = _start_nginx(release, url.path, port, work)
            try:
                if _serves(proc, port, base_url, release):
                    break
            except BaseException:
                harness._stop(proc)
                raise
            harness._stop(proc)
            if time.monotonic() >= deadline:
                raise Unusable("nginx could not take port %d%s; see %s" % (port, port_holder(port), work / "error.log"))
        try:
            say("serving %s at %s (nginx, config %s)" % (release, base_url, work / "nginx.conf"))
            yield base_url
        finally:
            harness._stop(proc)


def _start_nginx(release, path, port, work):
    if work.exists():
        shutil.rmtree(work)
    return harness.start_nginx(release, port, work, path)


def _serves(proc, port, base_url, release):
    """True when our nginx listens and answers with our files (not another server on the port)."""
    try:
        harness.wait_for_port(port, proc=proc)
    except RuntimeError:
        return False
    try:
        with urllib.request.urlopen(base_url + "filecrc.txt", timeout=10) as r:
            body = r.read()
    except OSError:
        return False
    return proc.poll() is None and body == (Path(release) / "filecrc.txt").read_bytes()


# ---------------------------------------------------------------------------------------------------
# The prefix and one installer run.

def fresh_prefix(prefix):
    for p in (prefix, Path(str(prefix) + ".home")):
        if p.exists():
            shutil.rmtree(p)
    say("making the Wine prefix %s (a copy of %s)" % (prefix, harness.TEMPLATE_PREFIX))
    harness.copy_prefix(prefix)


def installer_window(proc, timeout):
    """The installer's window: visible, of class mirevalesetup.exe and 530 x 360."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and proc.poll() is None:
        for wid in reversed(xdo.run("search", "--onlyvisible", "--classname", "mirevalesetup.exe").stdout.split()):
            try:
                if xdo.geometry(wid)[2:] == WINDOW_SIZE:
                    return wid
            except (KeyError, ValueError):
                pass
        time.sleep(0.2)
    return None


def read_log(prefix):
    path = host_path(prefix, r"C:\temp\log.txt")
    try:
        return decode_log(path.read_bytes())
    except (OSError, UnicodeDecodeError):
        return []


def log_has(lines, text):
    return any(text in line for line in lines)


def failure_in(lines):
    for line in lines:
        if any(p.search(line) for p in FAILURE_RECORDS):
            return line
    return None


def shot(path, window):
    try:
        xdo.screenshot(path, window)
        return str(path)
    except subprocess.CalledProcessError:
        return None


def run_installer(installer, prefix, out, number, headless, timeout):
    """One run of `installer` in `prefix`; returns what was seen, then the prefix's wineserver stopped."""
    shots = out / "screenshots"
    shots.mkdir(parents=True, exist_ok=True)
    for old in shots.glob("run%d-*.png" % number):
        old.unlink()
    logs = out / "logs"
    logs.mkdir(parents=True, exist_ok=True)
    (logs / ("run%d-log.txt" % number)).unlink(missing_ok=True)
    # The installer deletes its old log too, but only once it is up: a run that never gets that far
    # must not be judged by the previous run's records.
    host_path(prefix, r"C:\temp\log.txt").unlink(missing_ok=True)
    seen = {"run": number, "prefix": str(prefix), "installer": str(installer), "screenshots": {}, "clicked": False}
    started = time.monotonic()
    with open(logs / ("run%d-wine.txt" % number), "wb") as wine_out:
        proc = harness.wine_popen(prefix, [installer], stdout=wine_out, stderr=subprocess.STDOUT)
    try:
        window = installer_window(proc, 120)
        seen["window"] = window is not None
        if window is None:
            say("run %d: the installer window did not appear (see %s)" % (number, logs / ("run%d-wine.txt" % number)))
        else:
            time.sleep(0.5)  # let the first paint land before the picture
            seen["screenshots"]["ready"] = shot(shots / ("run%d-1-ready.png" % number), window)
            x, y, _, _ = xdo.geometry(window)
            if headless:
                for _ in range(3):
                    xdo.click(x + INSTALL_BUTTON[0], y + INSTALL_BUTTON[1])
                    seen["clicked"] = True
                    if _wait_for(lambda: log_has(read_log(prefix), STARTED_RECORD) or proc.poll() is not None, 20):
                        break
            else:
                say("run %d: click the install button (立即安装) in the installer window on %s; waiting for the "
                    "installer to end" % (number, os.environ.get("DISPLAY")))
                _wait_for(lambda: log_has(read_log(prefix), STARTED_RECORD) or proc.poll() is not None, None)
            if proc.poll() is None:
                seen["screenshots"]["run"] = shot(shots / ("run%d-2-run.png" % number), window)
            # A person sees a failure and closes the window; headless, the failure face is captured and closed.
            failure = _wait_for_end(proc, prefix, timeout) if headless else _wait_for(lambda: proc.poll() is not None, None)
            if headless and failure and proc.poll() is None:
                time.sleep(1.5)  # the red message is set right after the record
                seen["screenshots"]["end"] = shot(shots / ("run%d-3-end.png" % number), window)
                xdo.click(x + CLOSE_BUTTON[0], y + CLOSE_BUTTON[1])
                _wait_for(lambda: proc.poll() is not None, 60)
        if proc.poll() is None:
            seen["timed_out"] = True
            proc.kill()
        seen["exit_code"] = proc.wait()
        seen["seconds"] = round(time.monotonic() - started, 1)
        lines = read_log(prefix)
        seen["failure"] = failure_in(lines)
        seen["completed"] = log_has(lines, COMPLETED_RECORD) and not failure_in(lines) and not seen.get("timed_out")
        if seen["completed"]:
            client = xdo.find(CLIENT_TITLE, timeout=60)
            seen["client_window"] = client is not None
            if client:
                time.sleep(0.5)
                seen["screenshots"]["end"] = shot(shots / ("run%d-3-end.png" % number), client)
        seen["client_pids"] = client_processes(prefix)
        seen["reg_query"] = harness.wine(prefix, ["reg", "query", UNINSTALL_KEY], capture_output=True,
                                         timeout=120).stdout.decode("utf-8", "replace")
    finally:
        _end_run(proc, prefix)
    return _keep_log(prefix, logs, number, seen)


def run_silent(installer, prefix, out, number, timeout):
    """One unattended run (/S) of `installer` in `prefix`: watches the display for any window while it
    runs; returns what was seen, then the prefix's wineserver stopped."""
    logs = out / "logs"
    logs.mkdir(parents=True, exist_ok=True)
    host_path(prefix, r"C:\temp\log.txt").unlink(missing_ok=True)
    seen = {"run": number, "prefix": str(prefix), "installer": str(installer), "screenshots": {}, "clicked": False,
            "silent": True, "windows_shown": []}
    started = time.monotonic()
    before = set(xdo.visible_ids())
    program = "Z:" + str(installer).replace("/", "\\")
    proc, wait = harness.start_with_exit_code(prefix, [program, "/S"])
    try:
        while proc.poll() is None and time.monotonic() - started < timeout:
            for window in set(xdo.visible_ids()) - before:
                name = xdo.run("getwindowname", window).stdout.strip()
                if name not in seen["windows_shown"]:
                    seen["windows_shown"].append(name)
            time.sleep(0.2)
        if proc.poll() is None:
            seen["timed_out"] = True
            proc.kill()
        else:
            seen["exit_code"] = wait()
        seen["seconds"] = round(time.monotonic() - started, 1)
        lines = read_log(prefix)
        seen["failure"] = failure_in(lines)
        seen["completed"] = (seen.get("exit_code") == 0 and log_has(lines, COMPLETED_RECORD)
                             and not seen["failure"])
        time.sleep(2)  # a client that was started after all has had its time to appear
        seen["client_pids"] = client_processes(prefix)
        seen["reg_query"] = harness.wine(prefix, ["reg", "query", UNINSTALL_KEY], capture_output=True,
                                         timeout=120).stdout.decode("utf-8", "replace")
    finally:
        _end_run(proc, prefix)
    return _keep_log(prefix, logs, number, seen)


def _end_run(proc, prefix):
    if proc.poll() is None:
        proc.kill()
        proc.wait()
    harness.stop_wineserver(prefix)


def _keep_log(prefix, logs, number, seen):
    """Copies the run's log beside the others (the next run deletes C:\\temp\\log.txt); returns `seen`."""
    log_copy = logs / ("run%d-log.txt" % number)
    log_file = host_path(prefix, r"C:\temp\log.txt")
    if log_file.is_file():
        shutil.copyfile(log_file, log_copy)
    seen["log"] = str(log_file)
    seen["log_copy"] = str(log_copy)
    return seen


def _wait_for(condition, timeout):
    deadline = None if timeout is None else time.monotonic() + timeout
    while not condition():
        if deadline is not None and time.monotonic() >= deadline:
            return False
        time.sleep(0.2)
    return True


def _wait_for_end(proc, prefix, timeout):
    """Waits for the installer to end; returns the failure record when the run gave up instead."""
    deadline = None if timeout is None else time.monotonic() + timeout
    while proc.poll() is None:
        failure = failure_in(read_log(prefix))
        if failure:
            return failure
        if deadline is not None and time.monotonic() >= deadline:
            return None
        time.sleep(0.3)
    return None


# ---------------------------------------------------------------------------------------------------
# What a run left behind, and its report.

def examine(prefix, release, seen, certificates):
    """Adds to `seen` what the run left in the prefix; returns the list of problems."""
    problems = []
    # The installer that ran, and the uninstaller as it landed in the installation.
    installed = host_path(prefix, r"C:\Larkspire\UnInstall.exe")
    seen["authenticode"] = {}
    for name, program in (("MirevaleSetup.exe", Path(seen["installer"])), ("UnInstall.exe", installed)):
        valid, lines = authenticode(certificates, [program]) if program.is_file() else (False, ["not there"])
        seen["authenticode"][name] = lines[-1].split(": ", 1)[-1] if lines else "not verified"
        if not valid:
            problems.append("Authenticode signature of %s: %s" % (program, seen["authenticode"][name]))
    silent = bool(seen.get("silent"))
    if silent and seen["windows_shown"]:
        problems.append("the unattended run showed windows: " + ", ".join(seen["windows_shown"]))
    if silent and seen.get("exit_code") != 0:
        problems.append("the unattended run ended with exit code %s" % seen.get("exit_code"))
    if not silent and not seen.get("window"):
        problems.append("the installer window never appeared")
    if seen.get("timed_out"):
        problems.append("the installer did not end in time and was killed")
    if seen.get("failure"):
        problems.append("the installation failed: " + seen["failure"].split("]", 2)[-1])
    if not seen.get("completed"):
        problems.append("the installation did not complete")
    lines = read_log(prefix) if Path(seen["log"]).is_file() else []
    setup = host_path(prefix, r"C:\Larkspire")
    files = sorted(p for p in setup.rglob("*") if p.is_file()) if setup.is_dir() else []
    seen["files"] = [str(p.relative_to(setup)).replace("/", "\\") for p in files]
    seen["packages"] = [(m.group(1).rsplit("/", 1)[-1], int(m.group(2)))
                        for m in (DOWNLOAD_RECORD.search(l) for l in lines) if m]
    signature = [m for m in (SIGNATURE_RECORD.search(l) for l in lines) if m]
    seen["signature_listed"] = int(signature[-1].group(1)) if signature else None
    seen["signature_terms"] = ", ".join(signature[-1].group(2, 3)) if signature else None
    seen["signature_matched"] = [m.group(1) for m in (MATCH_RECORD.search(l) for l in lines) if m]
    if seen["signature_listed"] is None:
        problems.append("the installer did not verify the release's signature")

    listed = crc_list((Path(release) / "filecrc.txt").read_bytes())
    checked = {}
    for line in lines:
        m = CRC_RECORD.search(line)
        if m:
            checked[m.group(1)] = (int(m.group(2)), int(m.group(3)))
    seen["crc_listed"] = len([c for _, c in listed if c])
    seen["crc_passed"] = len([n for n, (a, b) in checked.items() if a == b])
    seen["crc_failed_record"] = log_has(lines, "CheckFileCRC failed")
    if seen.get("completed") and seen["crc_passed"] != seen["crc_listed"]:
        problems.append("the installer's check matched %d of %d listed files" % (seen["crc_passed"], seen["crc_listed"]))
    now = []
    for name, crc in listed:
        path = host_path(prefix, "C:\\Larkspire\\" + name)
        now.append((name, path.is_file() and file_crc(path) == crc, path.is_file()))
    seen["crc_now"] = now
    for name, same, present in now:
        if not present:
            problems.append("listed file missing: C:\\Larkspire\\" + name)

    config_path = host_path(prefix, r"C:\Larkspire\config\ORB.System.config")
    seen["config"] = {}
    if config_path.is_file():
        config = read_profile(config_path)
        seen["config"] = {s: dict(config[s]) for s in config.sections()}
    if seen["config"].get("Client", {}).get("Version") != "000":
        problems.append("ORB.System.config has no [Client] Version=000")

    seen["shortcuts"] = {name: is_shell_link(path) for name, path in shortcut_paths(prefix, silent).items()}
    problems += ["shortcut missing: " + n for n, ok in seen["shortcuts"].items() if not ok]

    entry = reg_file_key(prefix / "system.reg", UNINSTALL_REG_SECTION)
    seen["uninstall_entry"] = {k: v for k, (_, v) in entry.items()} if entry else None
    if not entry:
        problems.append("no uninstall entry " + UNINSTALL_KEY)
    if silent and seen["client_pids"]:
        problems.append("the unattended run started the client")
    if not silent and seen.get("completed") and not seen.get("client_window"):
        problems.append("the client window \"%s\" did not appear" % CLIENT_TITLE)
    seen["problems"] = problems
    return problems


def report(seen):
    def rel(p):
        try:
            return str(Path(p).relative_to(Path.cwd()))
        except ValueError:
            return str(p)

    n = seen["run"]
    say()
    say("== run %d ==" % n)
    if seen.get("silent"):
        say("installer:   unattended (/S), no window shown%s; exit code %s after %s s%s"
            % ("" if not seen["windows_shown"] else " but for " + ", ".join(seen["windows_shown"]),
               seen.get("exit_code"), seen.get("seconds"), " (killed)" if seen.get("timed_out") else ""))
    elif seen.get("window"):
        how = "clicked install by itself" if seen["clicked"] else "install clicked by a person"
        say("installer:   window appeared, %s; process ended with exit code %s after %s s%s"
            % (how, seen.get("exit_code"), seen.get("seconds"), " (killed)" if seen.get("timed_out") else ""))
    else:
        say("installer:   no window; process ended with exit code %s" % seen.get("exit_code"))
    if seen.get("failure"):
        say("failure:     " + seen["failure"].split("]", 2)[-1])
    signatures = seen["authenticode"]
    if all(v.startswith("valid") for v in signatures.values()):
        say("authenticode: valid: MirevaleSetup.exe (run) and UnInstall.exe (installed in C:\\Larkspire), %s"
            % signatures["UnInstall.exe"].split(", ", 1)[-1])
    else:
        say("authenticode: " + "; ".join("%s %s" % kv for kv in signatures.items()))
    if seen["signature_listed"] is None:
        say("signature:   NOT verified by the installer")
    else:
        say("signature:   the installer verified release.sha256 (%d files listed, %s); matched: %s"
            % (seen["signature_listed"], seen["signature_terms"], ", ".join(seen["signature_matched"]) or "none"))
    say("packages:    " + (", ".join("%s (%d bytes)" % p for p in seen["packages"]) or "none downloaded"))
    say("files:       %d installed under C:\\Larkspire (%s)"
        % (len(seen["files"]), rel(host_path(Path(seen["prefix"]), r"C:\Larkspire"))))
    outcome = "failed" if seen["crc_failed_record"] else ("passed" if seen.get("completed") else "not reached")
    say("verified:    CheckFileCRC %s: %d of %d files of filecrc.txt matched (loacalCRC = netCRC in the log)"
        % (outcome, seen["crc_passed"], seen["crc_listed"]))
    for name, same, present in seen["crc_now"]:
        if present and not same:
            why = " (expected: the configuration is written after the check)" if name == CONFIG_NAME else ""
            say("             now differs from filecrc.txt: %s%s" % (name, why))
    cfg = seen["config"]
    say("config:      [Client] Version=%s; [Server] %s" % (
        cfg.get("Client", {}).get("Version", "(missing)"),
        ", ".join("%s=%s" % kv for kv in cfg.get("Server", {}).items()) or "(missing)"))
    say("shortcuts:   " + "; ".join("%s: %s" % (k, "yes" if v else "MISSING") for k, v in seen["shortcuts"].items()))
    values = [line.strip() for line in seen.get("reg_query", "").splitlines() if "REG_" in line]
    say("uninstall:   %s (wine reg query): %s" % (UNINSTALL_KEY, "%d values" % len(values) if values else "none"))
    for line in values:
        say("               " + line)
    if seen.get("silent"):
        say("client:      not started, as an unattended run without /LAUNCH does; iQorRemote.exe processes: %d"
            % len(seen["client_pids"]))
    elif seen.get("completed"):
        say("client:      window \"%s\" %s; iQorRemote.exe processes at the end: %d"
            % (CLIENT_TITLE, "appeared" if seen.get("client_window") else "did NOT appear", len(seen["client_pids"])))
    else:
        say("client:      not started (the run did not complete)")
    say("screenshots: " + (", ".join("%s %s" % (k, rel(v)) for k, v in seen["screenshots"].items() if v) or "none"))
    say("log:         %s (C:\\temp\\log.txt), copy %s; last lines:" % (rel(seen["log"]), rel(seen["log_copy"])))
    try:
        lines = decode_log(Path(seen["log_copy"]).read_bytes())
    except OSError:
        lines = []
    for line in lines[-6:]:
        say("               " + line)
    say("result:      " + ("COMPLETE" if not seen["problems"] else "NOT COMPLETE"))
    for problem in seen["problems"]:
        say("               - " + problem)


# ---------------------------------------------------------------------------------------------------
# --uninstall: the registered uninstaller, and what it leaves.

UNINSTALL_LOG = r"C:\temp\uninstall.txt"


def split_command_line(command):
    """The words of a Windows command line as the uninstaller's own splitting sees them: a word in
    double quotes runs to the next quote."""
    return [m.group(1) if m.group(1) is not None else m.group(2) for m in re.finditer(r'"([^"]*)"|(\S+)', command)]


def _answer_uninstaller(proc, prefix, timeout):
    """Headless: answers the uninstaller's question with yes and closes its closing message (or its
    refusal). Its windows have the program's file name as class, so nothing else on the display
    counts. Returns the captions answered, once the uninstaller has ended or the time is up. The
    process started first may end early, its copy is running by then."""
    answered = []
    deadline = time.monotonic() + timeout
    while (time.monotonic() < deadline and "提示" not in answered
           and (proc.poll() is None or client_processes(prefix, b"uninstall"))):
        ours = set(xdo.run("search", "--classname", "^uninstall").stdout.split())
        for title, key in (("询问", "y"), ("提示", "Return")):
            boxes = [w for w in xdo.run("search", "--onlyvisible", "--name", "^%s$" % title).stdout.split()
                     if w in ours]
            if boxes:
                xdo.keys(boxes[-1], key)
                xdo.gone(boxes[-1])
                answered.append(title)
        time.sleep(0.2)
    return answered


def uninstall(prefix, out, headless, timeout):
    """Runs the UninstallString registered in `prefix` under Wine (headless it answers yes itself),
    waits until every program of the prefix has ended and returns what was seen and what is left."""
    harness.stop_wineserver(prefix)
    entry = reg_file_key(prefix / "system.reg", UNINSTALL_REG_SECTION) if (prefix / "system.reg").is_file() else None
    command = (entry or {}).get("UninstallString", (None, ""))[1]
    if not command:
        raise Unusable("--uninstall needs an installation registered in %s: run without --uninstall first" % prefix)
    host_path(prefix, UNINSTALL_LOG).unlink(missing_ok=True)
    say("uninstalling with the registered UninstallString %s" % command)
    seen = {"command": command, "answered": []}
    logs = out / "logs"
    logs.mkdir(parents=True, exist_ok=True)
    with open(logs / "uninstall-wine.txt", "wb") as wine_out:
        proc = harness.wine_popen(prefix, split_command_line(command), stdout=wine_out, stderr=subprocess.STDOUT)
    try:
        if headless:
            seen["answered"] = _answer_uninstaller(proc, prefix, timeout)
        else:
            say("answer the uninstaller's question on %s; waiting for it to end" % os.environ.get("DISPLAY"))
        seen["exit_code"] = proc.wait(timeout if headless else None)
        # The program started from the install folder hands over to its copy in the temporary folder.
        if not _wait_for(lambda: not client_processes(prefix, b"uninstall"), timeout if headless else None):
            seen["timed_out"] = True
    except subprocess.TimeoutExpired:
        seen["timed_out"] = True
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        harness.stop_wineserver(prefix)
    log = host_path(prefix, UNINSTALL_LOG)
    if log.is_file():
        shutil.copyfile(log, logs / "uninstall-log.txt")
    seen["log"] = decode_log(log.read_bytes()) if log.is_file() else []
    folder = host_path(prefix, r"C:\Larkspire")
    seen["folder"] = sorted(str(p.relative_to(folder)) for p in folder.rglob("*")) if folder.exists() else None
    seen["shortcuts"] = {name: path.exists() for name, path in shortcut_paths(prefix).items()}
    seen["start_menu_folder"] = (harness.c_drive(prefix) / PROGRAMS / "Mirevale").exists()
    seen["entry"] = reg_file_key(prefix / "system.reg", UNINSTALL_REG_SECTION) is not None
    seen["left"] = ((["C:\\Larkspire"] if seen["folder"] is not None else [])
                    + [name for name, there in seen["shortcuts"].items() if there]
                    + (["Start menu folder Mirevale"] if seen["start_menu_folder"] else [])
                    + ([UNINSTALL_KEY] if seen["entry"] else []))
    return seen


def report_uninstall(seen, out):
    say()
    say("== uninstall ==")
    how = ("answered %s by itself" % " and ".join(seen["answered"]) if seen["answered"]
           else "answered by a person" if "exit_code" in seen else "no answer")
    say("uninstaller: %s; %s; first process ended with exit code %s%s" % (
        seen["command"], how, seen.get("exit_code"), " (timed out)" if seen.get("timed_out") else ""))
    if seen["folder"] is None:
        say("folder:      C:\\Larkspire gone")
    else:
        say("folder:      C:\\Larkspire LEFT, holding %d entries: %s" % (len(seen["folder"]), ", ".join(seen["folder"][:10])))
    say("shortcuts:   " + "; ".join("%s: %s" % (k, "LEFT" if v else "gone") for k, v in seen["shortcuts"].items())
        + "; Start menu folder Mirevale: " + ("LEFT" if seen["start_menu_folder"] else "gone"))
    say("uninstall:   %s: %s" % (UNINSTALL_KEY, "LEFT" if seen["entry"] else "gone"))
    say("log:         %s (%s); last lines:" % (out / "logs" / "uninstall-log.txt", UNINSTALL_LOG))
    for line in seen["log"][-4:]:
        say("               " + line)
    say("result:      " + ("NOTHING LEFT" if not seen["left"] else "LEFT: " + ", ".join(seen["left"])))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", type=Path, default=SOURCE / "out", help="work folder (default: out/)")
    parser.add_argument("--headless", action="store_true", help="click install by itself (else a person clicks)")
    parser.add_argument("--silent", action="store_true", help="run the installer unattended (/S), no window")
    runs = parser.add_mutually_exclusive_group()
    runs.add_argument("--again", action="store_true", help="install again over the installation in OUT/prefix")
    runs.add_argument("--twice", action="store_true", help="fresh installation, then a second one over it")
    runs.add_argument("--uninstall", action="store_true",
                      help="remove the installation in OUT/prefix with its registered uninstaller")
    parser.add_argument("--wait-port", type=float, default=0, metavar="SECONDS",
                        help="wait this long for the base URL's port instead of failing at once")
    parser.add_argument("--timeout", type=float, default=float(os.environ.get("MIREVALE_RUN_TIMEOUT", 400)),
                        help="headless: longest wait for one installer run (default 400 s)")
    parser.add_argument("--json", type=Path, help="also write what was seen as JSON")
    args = parser.parse_args(argv)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    out = args.out.resolve()
    out.mkdir(parents=True, exist_ok=True)
    prefix = out / "prefix"
    results = []
    try:
        if not os.environ.get("DISPLAY"):
            raise Unusable("no DISPLAY: source scripts/xvfb.sh first (scripts/run.sh does)")
        if args.uninstall:
            if not prefix.exists():
                raise Unusable("--uninstall needs an installation in %s: run without --uninstall first" % prefix)
            seen = uninstall(prefix, out, args.headless, args.timeout)
            report_uninstall(seen, out)
            results.append(seen)
            say()
            say("main job: %s (uninstall; work folder %s)" % ("done" if not seen["left"] else "FAILED", out))
            return 0 if not seen["left"] else 1
        if args.again and not host_path(prefix, r"C:\Larkspire").is_dir():
            raise Unusable("--again needs an earlier installation in %s: run without --again first" % prefix)
        base_url = base_url_from_cache()
        pem, key_hex = release_key()
        certificates = code_signing_certificates()
        with harness.time_stamp_authority(certificates, out / "tsa") as tsa:
            say("time-stamp authority: %s (openssl ts, certificate %s)" % (tsa.url, certificates["tsa"]))
            installer = keyed_installer(key_hex, arch=harness.WIDTH, base_url=base_url, certificates=certificates,
                                        tsa_url=tsa.url)
        say("installer:   %s, built-in base URL %s, release key %s" % (installer, base_url, key_hex))
        release = out / "release"
        publish(release, pem, key_hex, installer.parent)
        valid, lines = authenticode(certificates, [installer, release / "UnInstall.exe"])
        for line in lines:
            say("  verify " + line)
        if not valid:
            raise Unusable("the programs' Authenticode signatures do not verify against %s" % certificates["ca"])
        say("authenticode: valid (MirevaleSetup.exe and the published UnInstall.exe, against %s)" % certificates["ca"])
        with serve(release, base_url, out / "nginx", args.wait_port):
            check(base_url, key_hex)
            if args.again:
                say("installing again over the installation in %s" % prefix)
            else:
                fresh_prefix(prefix)
            for number in ((1, 2) if args.twice else (1,)):
                if args.silent:
                    seen = run_silent(installer, prefix, out, number, args.timeout)
                else:
                    seen = run_installer(installer, prefix, out, number, args.headless, args.timeout)
                examine(prefix, release, seen, certificates)
                report(seen)
                results.append(seen)
                if seen["problems"]:
                    break
    except Unusable as e:
        say("main job: " + str(e))
        return 3
    finally:
        if prefix.exists():
            harness.stop_wineserver(prefix)
        if args.json:
            args.json.write_text(json.dumps(results, indent=1, ensure_ascii=False))
    ok = bool(results) and all(not r["problems"] for r in results)
    say()
    say("main job: %s (%d run%s; work folder %s)" % ("done" if ok else "FAILED", len(results),
                                                     "" if len(results) == 1 else "s", out))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
