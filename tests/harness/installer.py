"""Helpers for tests that run the installer itself under Wine."""
import os
import re
import subprocess
import time
from pathlib import Path

import wineenv

BUILD = Path(os.environ.get("QV_BUILD_DIR", "."))
EXE = BUILD / "src" / "quorvel-setup.exe"
QVTOOL = BUILD / "tests" / "wine" / "qvtool.exe"

STAMP = re.compile(r"^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}  ")


def log_path():
    return wineenv.temp_dir() / "quorvel-setup.log"


def read_log():
    """The log's messages (time stamps removed), and whether it starts with the UTF-8 mark."""
    p = log_path()
    if not p.exists():
        return False, []
    data = p.read_bytes()
    bom = data.startswith(b"\xef\xbb\xbf")
    text = data[3:].decode("utf-8") if bom else data.decode("utf-8")
    assert text == "" or text.endswith("\r\n"), "log does not end with CR LF"
    lines = text.split("\r\n")[:-1] if text else []
    for l in lines:
        assert STAMP.match(l), f"line without time stamp: {l!r}"
    return bom, [l[25:] for l in lines]


def reset_log():
    p = log_path()
    if p.exists():
        p.unlink()


def tool(*args, timeout=30):
    return wineenv.run(QVTOOL, *args, timeout=timeout)


def window_state():
    """Parsed `qvtool find` output, or None when the window does not exist."""
    r = tool("find")
    if r.returncode != 0:
        return None
    return dict(kv.split("=", 1) for kv in r.stdout.split())


def start(wait=True, extra_env=None):
    p = wineenv.spawn(EXE, extra_env=extra_env)
    if wait:
        r = tool("wait", "20")
        if r.returncode != 0:
            p.kill()
            raise AssertionError("installer window did not appear")
    return p


def message_box():
    """The installer's open message box as a dict (caption, text, buttons, default), or None."""
    r = tool("msgbox")
    if r.returncode != 0:
        return None
    info = dict(l.split("=", 1) for l in r.stdout.splitlines() if "=" in l)
    info["buttons"] = dict((int(b.split(":", 1)[0]), b.split(":", 1)[1]) for b in info["buttons"].split(",") if b)
    return info


def press(button_id):
    """Ends the open message box with that button (IDOK 1, IDYES 6, IDNO 7)."""
    return tool("msgbox-press", str(button_id)).returncode == 0


def close(p, timeout=20, confirm=True):
    """Asks the window to close and, when it asks whether to exit, answers Yes."""
    tool("close")
    if confirm and wait_until(lambda: p.poll() is not None or message_box() is not None, timeout=10):
        if p.poll() is None:
            press(6)
    return p.wait(timeout=timeout)


def wait_until(pred, timeout=10, step=0.1):
    end = time.time() + timeout
    while time.time() < end:
        v = pred()
        if v:
            return v
        time.sleep(step)
    return pred()


# ---- The window as the user sees it: the test channel and the X display --------------------

def ask(command):
    """The installer's test-channel answer to `command` ("controls", "state", "dpi N")."""
    r = tool("ask", *command.split())
    if r.returncode != 0:
        raise AssertionError(f"test channel did not answer {command!r} (exit {r.returncode})")
    return r.stdout


def controls():
    """Every control by name: kind, cls, showing, enabled, x, y, w, h (in the window's client
    area) and text."""
    result = {}
    for line in ask("controls").splitlines():
        name, kind, cls, showing, enabled, rect, text = line.split("\t", 6)
        x, y, w, h = (int(v) for v in rect.split(","))
        result[name] = {"kind": kind, "cls": cls, "showing": showing == "1", "enabled": enabled == "1",
                        "x": x, "y": y, "w": w, "h": h, "text": text}
    return result


def state():
    """The flow's state as strings by key (dpi, client, slide, focus, glyphColor, ...)."""
    return dict(l.split("=", 1) for l in ask("state").splitlines() if "=" in l)


def window_rect():
    """The window's place and size on the screen as (left, top, width, height)."""
    m = re.match(r"(-?\d+),(-?\d+),(\d+)x(\d+)$", window_state()["rect"])
    return tuple(int(v) for v in m.groups())


def xdotool(*args, timeout=10):
    return subprocess.run(["xdotool"] + [str(a) for a in args], env=wineenv.env(), capture_output=True,
                          text=True, timeout=timeout)


def xwindow(name="^Quorvel Setup$"):
    """The X window of the installer's window (its client area), or None."""
    r = xdotool("search", "--onlyvisible", "--name", name)
    ids = r.stdout.split()
    return ids[0] if ids else None


def _xid():
    xid = xwindow()
    if not xid:
        raise AssertionError("no X window for the installer")
    return xid


def point(name, dx=None, dy=None):
    """A point of a control in client coordinates: its centre, or dx, dy from its top-left."""
    c = controls()[name]
    return (c["x"] + (c["w"] // 2 if dx is None else dx), c["y"] + (c["h"] // 2 if dy is None else dy))


def mouse_to(x, y):
    xdotool("mousemove", "--window", _xid(), x, y)


def click(name, button=1, dx=None, dy=None):
    """Clicks a control with mouse button `button` (1 left, 2 middle, 3 right) at its centre, or
    at dx, dy from its top-left corner."""
    x, y = point(name, dx, dy)
    xdotool("mousemove", "--window", _xid(), x, y, "click", button)


def drag(name, by=(60, 40), button=1, dx=None, dy=None):
    """Presses a mouse button on a control, moves the pointer by `by` in steps and releases it."""
    drag_at(*point(name, dx, dy), by=by, button=button)


def drag_at(x, y, by=(60, 40), button=1):
    """A drag as `drag`, from the client point x, y."""
    xdotool("mousemove", "--window", _xid(), x, y, "mousedown", button)
    time.sleep(0.1)
    for i in range(1, 6):
        xdotool("mousemove_relative", "--", by[0] * i // 5 - by[0] * (i - 1) // 5,
                by[1] * i // 5 - by[1] * (i - 1) // 5)
        time.sleep(0.03)
    time.sleep(0.1)
    xdotool("mouseup", button)


def focus_window():
    """Gives the installer's window the keyboard focus (there is no window manager to do it)."""
    xdotool("windowfocus", "--sync", _xid())


def key(*keys):
    """Sends keys (xdotool names: Tab, space, Return, Escape, alt+F4) to the focused window."""
    xdotool("key", "--delay", 60, *keys)
