"""Real keys and clicks on Wine's windows under Xvfb, through xdotool (no window manager here:
windowfocus works where windowactivate does not; mousemove without --sync)."""

import subprocess
import time


def run(*args):
    return subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True, text=True)


def find(name, timeout=30.0, proc=None):
    """Waits for a visible window whose title is exactly `name`; returns its id, or None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        out = run("search", "--onlyvisible", "--name", "^%s$" % name).stdout.split()
        if out:
            return out[-1]
        if proc is not None and proc.poll() is not None:
            return None
        time.sleep(0.2)
    return None


def gone(window, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if run("getwindowname", window).returncode != 0:
            return True
        if "IsViewable" not in run("getwindowgeometry", window).stdout and window not in visible_ids():
            return True
        time.sleep(0.2)
    return False


def visible_ids():
    return run("search", "--onlyvisible", "--name", ".*").stdout.split()


def geometry(window):
    """(x, y, width, height) of a window on the screen."""
    out = run("getwindowgeometry", "--shell", window).stdout
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def focus(window):
    run("windowfocus", window)
    time.sleep(0.3)


def keys(window, *names):
    focus(window)
    for name in names:
        run("key", "--delay", "60", name)
        time.sleep(0.1)


def type_text(window, text):
    focus(window)
    run("type", "--delay", "40", text)
    time.sleep(0.1)


def click(x, y, button=1):
    run("mousemove", x, y)
    time.sleep(0.15)
    run("click", button)
    time.sleep(0.15)


def screenshot(path, window="root"):
    subprocess.run(["import", "-window", str(window), "-depth", "8", str(path)], check=True, capture_output=True)
