"""The main job's runs in a prefix of its own: the installer through its window (clicked by itself on a
private display, or by a person), unattended (/S) with its whole exit code, and the uninstaller registered
in the prefix; each returns what was seen, and examine() adds what an installation left behind."""

import os
import re
import shutil
import subprocess
import time
from pathlib import Path

from mirevale import Unusable, records, signing, wine, xdo
from mirevale.builds import TEMPLATE_PREFIX, say
from mirevale.release import crc_list
from mirevale.winefiles import (LOG, PROGRAMS, UNINSTALL_KEY, UNINSTALL_LOG, UNINSTALL_REG_SECTION, c_drive, file_crc,
                                host_path, installed_files, is_shell_link, read_log, read_profile, reg_file_key,
                                shortcut_paths, windows_path)

CLIENT_TITLE = "Mirevale"
CONFIG_NAME = r"config\ORB.System.config"
WINDOW_SIZE = (530, 360)
INSTALL_BUTTON = ((182 + 359) // 2, (290 + 332) // 2)  # centre of the install button, client pixels
CLOSE_BUTTON = ((500 + 530) // 2, 16)


def fresh_prefix(prefix):
    for p in (prefix, Path(str(prefix) + ".home")):
        if p.exists():
            shutil.rmtree(p)
    say("making the Wine prefix %s (a copy of %s)" % (prefix, TEMPLATE_PREFIX))
    wine.copy_prefix(prefix)


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


def shot(path, window):
    try:
        xdo.screenshot(path, window)
        return str(path)
    except subprocess.CalledProcessError:
        return None


def run_through_window(installer, prefix, out, number, headless, timeout):
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
    host_path(prefix, LOG).unlink(missing_ok=True)
    seen = {"run": number, "prefix": str(prefix), "installer": str(installer), "screenshots": {}, "clicked": False}
    started = time.monotonic()
    with open(logs / ("run%d-wine.txt" % number), "wb") as wine_out:
        proc = wine.popen(prefix, [installer], stdout=wine_out, stderr=subprocess.STDOUT)
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
                    if _wait_for(lambda: _started(prefix, proc), 20):
                        break
            else:
                say("run %d: click the install button (立即安装) in the installer window on %s; waiting for the "
                    "installer to end" % (number, os.environ.get("DISPLAY")))
                _wait_for(lambda: _started(prefix, proc), None)
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
        seen["failure"] = records.failure(lines)
        seen["completed"] = records.has(lines, records.COMPLETED) and not records.failure(lines) and not seen.get("timed_out")
        if seen["completed"]:
            client = xdo.find(CLIENT_TITLE, timeout=60)
            seen["client_window"] = client is not None
            if client:
                time.sleep(0.5)
                seen["screenshots"]["end"] = shot(shots / ("run%d-3-end.png" % number), client)
        _note_machine(seen, prefix)
    finally:
        _end_run(proc, prefix)
    return _keep_log(prefix, logs, number, seen)


def run_silent(installer, prefix, out, number, timeout):
    """One unattended run (/S) of `installer` in `prefix`: watches the display for any window while it
    runs; returns what was seen, then the prefix's wineserver stopped."""
    logs = out / "logs"
    logs.mkdir(parents=True, exist_ok=True)
    host_path(prefix, LOG).unlink(missing_ok=True)
    seen = {"run": number, "prefix": str(prefix), "installer": str(installer), "screenshots": {}, "clicked": False,
            "silent": True, "windows_shown": []}
    started = time.monotonic()
    before = set(xdo.visible_ids())
    proc, wait = wine.start_with_exit_code(prefix, [windows_path(installer), "/S"])
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
        seen["failure"] = records.failure(lines)
        seen["completed"] = (seen.get("exit_code") == 0 and records.has(lines, records.COMPLETED)
                             and not seen["failure"])
        time.sleep(2)  # a client that was started after all has had its time to appear
        _note_machine(seen, prefix)
    finally:
        _end_run(proc, prefix)
    return _keep_log(prefix, logs, number, seen)


def _note_machine(seen, prefix):
    """What the run left that the report shows besides the files: the client's processes and the entry."""
    seen["client_pids"] = wine.processes(prefix)
    seen["reg_query"] = wine.run(prefix, ["reg", "query", UNINSTALL_KEY], capture_output=True,
                                 timeout=120).stdout.decode("utf-8", "replace")


def _started(prefix, proc):
    """The run has started its first download, or ended before it."""
    return records.has(read_log(prefix), records.START_DOWNLOAD) or proc.poll() is not None


def _end_run(proc, prefix):
    if proc.poll() is None:
        proc.kill()
        proc.wait()
    wine.stop_wineserver(prefix)


def _keep_log(prefix, logs, number, seen):
    """Copies the run's log beside the others (the next run deletes C:\\temp\\log.txt); returns `seen`."""
    log_copy = logs / ("run%d-log.txt" % number)
    log_file = host_path(prefix, LOG)
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
        failure = records.failure(read_log(prefix))
        if failure:
            return failure
        if deadline is not None and time.monotonic() >= deadline:
            return None
        time.sleep(0.3)
    return None



# ---------------------------------------------------------------------------------------------------
# What a run left behind.

def examine(prefix, release, seen, certificates):
    """Adds to `seen` what the run left in the prefix; returns the list of problems."""
    problems = []
    # The installer that ran, and the uninstaller as it landed in the installation.
    installed = host_path(prefix, r"C:\Larkspire\UnInstall.exe")
    seen["authenticode"] = {}
    for name, program in (("MirevaleSetup.exe", Path(seen["installer"])), ("UnInstall.exe", installed)):
        valid, lines = signing.authenticode(certificates, [program]) if program.is_file() else (False, ["not there"])
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
    seen["files"] = installed_files(prefix)
    seen["packages"] = [(m.group(1).rsplit("/", 1)[-1], int(m.group(2)))
                        for m in (records.PACKAGE_DOWNLOADED.search(l) for l in lines) if m]
    signature = [m for m in (records.SIGNATURE_VALID.search(l) for l in lines) if m]
    seen["signature_listed"] = int(signature[-1].group(1)) if signature else None
    seen["signature_terms"] = ", ".join(signature[-1].group(2, 3)) if signature else None
    seen["signature_matched"] = [m.group(1) for m in (records.FILE_MATCHES.search(l) for l in lines) if m]
    if seen["signature_listed"] is None:
        problems.append("the installer did not verify the release's signature")

    listed = crc_list((Path(release) / "filecrc.txt").read_bytes())
    checked = {}
    for line in lines:
        m = records.FILE_CRC.search(line)
        if m:
            checked[m.group(1)] = (int(m.group(2)), int(m.group(3)))
    seen["crc_listed"] = len([c for _, c in listed if c])
    seen["crc_passed"] = len([n for n, (a, b) in checked.items() if a == b])
    seen["crc_failed_record"] = records.has(lines, records.CRC_FAILED)
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


# ---------------------------------------------------------------------------------------------------
# The registered uninstaller, and what it leaves.

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
           and (proc.poll() is None or wine.processes(prefix, "uninstall"))):
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
    wine.stop_wineserver(prefix)
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
        proc = wine.popen(prefix, split_command_line(command), stdout=wine_out, stderr=subprocess.STDOUT)
    try:
        if headless:
            seen["answered"] = _answer_uninstaller(proc, prefix, timeout)
        else:
            say("answer the uninstaller's question on %s; waiting for it to end" % os.environ.get("DISPLAY"))
        seen["exit_code"] = proc.wait(timeout if headless else None)
        # The program started from the install folder hands over to its copy in the temporary folder.
        if not _wait_for(lambda: not wine.processes(prefix, "uninstall"), timeout if headless else None):
            seen["timed_out"] = True
    except subprocess.TimeoutExpired:
        seen["timed_out"] = True
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        wine.stop_wineserver(prefix)
    log = host_path(prefix, UNINSTALL_LOG)
    if log.is_file():
        shutil.copyfile(log, logs / "uninstall-log.txt")
    seen["log"] = read_log(prefix, UNINSTALL_LOG)
    folder = host_path(prefix, r"C:\Larkspire")
    seen["folder"] = sorted(str(p.relative_to(folder)) for p in folder.rglob("*")) if folder.exists() else None
    seen["shortcuts"] = {name: path.exists() for name, path in shortcut_paths(prefix).items()}
    seen["start_menu_folder"] = (c_drive(prefix) / PROGRAMS / "Mirevale").exists()
    seen["entry"] = reg_file_key(prefix / "system.reg", UNINSTALL_REG_SECTION) is not None
    seen["left"] = ((["C:\\Larkspire"] if seen["folder"] is not None else [])
                    + [name for name, there in seen["shortcuts"].items() if there]
                    + (["Start menu folder Mirevale"] if seen["start_menu_folder"] else [])
                    + ([UNINSTALL_KEY] if seen["entry"] else []))
    return seen


