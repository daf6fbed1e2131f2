"""Wine itself: the environment of a prefix (Chinese locale, its own HOME, no menu builder), copies of the
template prefix, the prefix's session and wineserver, programs started in it and the processes that run
there, and the one rule for a start that Wine ended before the program ran.

Also a command line for the shell scripts (tests/wine-run.sh, tests/wine-session.sh):
  python3 -m mirevale.wine retry WHAT COMMAND...   runs COMMAND under the retry rule, its output passed on
  python3 -m mirevale.wine copy-prefix TEMPLATE DEST"""

import itertools
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from mirevale.builds import BUILD, RUNNER, SOURCE, TEMPLATE_PREFIX
from mirevale.winefiles import c_drive

WINE_PREFIX_SH = SOURCE / "tests" / "wine-prefix.sh"
WINE_SESSION_SH = SOURCE / "tests" / "wine-session.sh"
PROBE = BUILD / "tests" / "window_probe.exe"
# Wine's own processes of a session, which stay while it is kept between programs.
SESSION_PROGRAMS = {"services.exe", "winedevice.exe", "plugplay.exe", "explorer.exe", "svchost.exe", "rpcss.exe",
                    "wineboot.exe", "conhost.exe"}
# Windows' own programs and libraries in a prefix, which nothing writes: a copy shares them with the
# template (hard links) instead of copying a gigabyte of them per case.
SHARED_SUFFIXES = {".dll", ".exe", ".nls", ".drv", ".sys", ".cpl", ".vxd", ".ocx", ".acm", ".tlb"}


def ended_before_it_ran(returncode, output, seconds, what="a test program"):
    """Wine here now and then ends a program with status 1 within milliseconds of its start, before the
    program runs (about once in a thousand starts on a busy machine; never under strace). A program that
    always prints (a test program, the session probe) and ended like that, with a failure and no output
    within a second, never ran: it may be started once more. Says so on stderr when it is."""
    if returncode == 0 or output or seconds >= 1.0:
        return False
    print("Wine ended %s with status %d after %.0f ms, before it printed anything; starting it once more"
          % (what, returncode, seconds * 1000), file=sys.stderr, flush=True)
    return True


def run_retried(command, what, **kwargs):
    """Runs `command` with its stdout and stderr together captured, and once more when Wine ended it before
    it ran; returns the CompletedProcess of the last start. The output goes through a file, not a pipe: the
    session's own processes that a program starts keep its handles open long after it has ended."""
    for attempt in (1, 2):
        with tempfile.TemporaryFile() as output:
            start = time.monotonic()
            proc = subprocess.run(command, stdout=output, stderr=subprocess.STDOUT, **kwargs)
            seconds = time.monotonic() - start
            output.seek(0)
            proc.stdout = output.read()
        if attempt == 2 or not ended_before_it_ran(proc.returncode, proc.stdout, seconds, what):
            return proc


def environment(prefix, extra=None):
    """The environment of a Windows program in `prefix`, as the installer's users run it."""
    values = dict(os.environ)
    values.update({
        "WINEPREFIX": str(prefix),
        "HOME": str(prefix) + ".home",
        "LANG": "zh_CN.UTF-8",
        "LC_ALL": "zh_CN.UTF-8",
        "WINEDEBUG": values.get("WINEDEBUG", "-all"),
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
    })
    values.update(extra or {})
    return values


def _copy_or_share(src, dst):
    if "/drive_c/windows/" in src and Path(src).suffix.lower() in SHARED_SUFFIXES:
        os.link(src, dst)
    else:
        shutil.copy2(src, dst)


def copy_prefix(dest, template=TEMPLATE_PREFIX):
    """Makes `dest` a copy of the template prefix (and of its HOME folder), making the template first
    when it is missing."""
    template = Path(template)
    subprocess.run([str(WINE_PREFIX_SH), str(template)], check=True)
    # The template's registry reaches its files when its session ends.
    stop_wineserver(template)
    dest = Path(dest)
    dest.parent.mkdir(parents=True, exist_ok=True)
    shutil.copytree(template, dest, symlinks=True, copy_function=_copy_or_share)
    home = Path(str(template) + ".home")
    if home.exists():
        shutil.copytree(home, Path(str(dest) + ".home"), symlinks=True)
    else:
        Path(str(dest) + ".home").mkdir()
    return dest


def session(prefix):
    """Starts the prefix's Wine session, kept between programs, and waits until it is ready, unless it
    runs already (tests/wine-session.sh)."""
    subprocess.run([str(WINE_SESSION_SH), str(prefix), str(PROBE)], check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, timeout=300)


def run(prefix, args, env=None, timeout=600, **kwargs):
    """Runs a Windows program (first of args) under Wine in `prefix`; returns the CompletedProcess."""
    session(prefix)
    return subprocess.run(RUNNER + ["wine"] + [str(a) for a in args], env=environment(prefix, env), timeout=timeout,
                          **kwargs)


def popen(prefix, args, env=None, **kwargs):
    session(prefix)
    return subprocess.Popen(RUNNER + ["wine"] + [str(a) for a in args], env=environment(prefix, env), **kwargs)


def run_test_program(prefix, args, env=None, timeout=600):
    """Runs a test program (one that always prints) in `prefix` under the retry rule; returns the
    CompletedProcess with its stdout and stderr together."""
    session(prefix)
    return run_retried(RUNNER + ["wine"] + [str(a) for a in args], "a test program", env=environment(prefix, env),
                       timeout=timeout)


_exit_code_files = itertools.count()


def start_with_exit_code(prefix, args, env=None):
    """Starts a Windows program (first of args) in `prefix` through tests/tools/exit_code.cpp, as Wine's
    own exit status keeps only 8 bits of its code; returns (process, wait), wait() giving the whole code."""
    name = "exit-code-%d.txt" % next(_exit_code_files)
    result = c_drive(prefix) / name
    result.unlink(missing_ok=True)
    proc = popen(prefix, [BUILD / "tests" / "exit_code.exe", "C:\\" + name] + list(args), env)

    def wait(timeout=600):
        status = proc.wait(timeout)
        if status != 0 or not result.exists():
            raise AssertionError("exit_code.exe ended with %d and no code" % status)
        return int(result.read_text())
    return proc, wait


def wineserver(prefix, *args, **kwargs):
    return subprocess.run(RUNNER + ["wineserver"] + list(args), env=environment(prefix), **kwargs)


def stop_wineserver(prefix):
    """Ends the prefix's wineserver, which also flushes its registry to system.reg and user.reg."""
    wineserver(prefix, "-k", capture_output=True)
    wineserver(prefix, "-w", capture_output=True)


def reg_add(prefix, key, name, value, kind="REG_SZ"):
    run(prefix, ["reg", "add", key, "/v", name, "/t", kind, "/d", str(value), "/f"], capture_output=True, check=True)


# ---------------------------------------------------------------------------------------------------
# The processes of a prefix.

def prefix_pids(prefix):
    """Linux pids of the processes that run in `prefix` (Windows programs and Wine's own)."""
    pids = []
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and ("WINEPREFIX=%s" % prefix).encode() in (entry / "environ").read_bytes().split(b"\0"):
                pids.append(int(entry.name))
        except OSError:
            continue
    return pids


def processes(prefix, program="iqorremote.exe"):
    """Linux pids of the processes in `prefix` whose command line names `program` (any case)."""
    pids = []
    for pid in prefix_pids(prefix):
        try:
            if program.lower().encode() in Path("/proc/%d/cmdline" % pid).read_bytes().lower():
                pids.append(pid)
        except OSError:
            continue
    return pids


def window_pids(proc, prefix):
    """The pids whose windows are those of the program started as `proc`. In the 32-bit runtime Wine
    starts a 32-bit program as a process of its own, which `proc` only waits for: any of the prefix's."""
    return [proc.pid] + (prefix_pids(prefix) if RUNNER else [])


def programs(prefix):
    """The command lines of the Windows programs that run in `prefix`, its session's own aside."""
    found = []
    for pid in prefix_pids(prefix):
        try:
            argv0 = Path("/proc/%d/cmdline" % pid).read_bytes().split(b"\0")[0].decode("utf-8", "replace")
        except OSError:
            continue
        name = argv0.replace("\\", "/").rsplit("/", 1)[-1].lower()
        if name and not name.startswith("wineserver") and name not in SESSION_PROGRAMS:
            found.append(argv0)
    return found


def wait_programs_ended(prefix, timeout=120.0):
    """Waits until no Windows program runs in `prefix` (the session itself may stay); True if so."""
    deadline = time.monotonic() + timeout
    while programs(prefix):
        if time.monotonic() > deadline:
            return False
        time.sleep(0.2)
    return True


def main(argv):
    if len(argv) >= 3 and argv[0] == "retry":
        proc = run_retried(argv[2:], argv[1])
        sys.stdout.buffer.write(proc.stdout)
        sys.stdout.buffer.flush()
        return proc.returncode
    if len(argv) == 3 and argv[0] == "copy-prefix":
        copy_prefix(argv[2], argv[1])
        return 0
    print(__doc__.split("\n\n", 1)[1], file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
