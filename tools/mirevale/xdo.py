"""Real keys and clicks on Wine's windows under Xvfb, through xdotool (no window manager here:
windowfocus works where windowactivate does not; mousemove without --sync)."""

import subprocess
import time


def run(*args):
    return subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True, text=True)


def find(name, timeout=60.0, proc=None):
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


def gone(window, timeout=30.0):
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


def wait_until(predicate, timeout):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def focus(window):
    """Gives `window` the keyboard focus and waits until X reports it there (keys go to the focus)."""
    run("windowfocus", window)
    wait_until(lambda: run("getwindowfocus").stdout.strip() == str(window), 10)


def keys(window, *names):
    focus(window)
    for name in names:
        run("key", "--delay", "60", name)


def type_text(window, text):
    focus(window)
    run("type", "--delay", "40", text)


def move(x, y):
    """Moves the pointer and waits until X has it there."""
    run("mousemove", x, y)
    wait_until(lambda: run("getmouselocation", "--shell").stdout.split()[:2] == ["X=%d" % x, "Y=%d" % y], 10)


def click(x, y, button=1):
    move(x, y)
    run("click", button)


def screenshot(path, window="root"):
    subprocess.run(["import", "-window", str(window), "-depth", "8", str(path)], check=True, capture_output=True)
