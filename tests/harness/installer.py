"""Helpers for tests that run the installer itself under Wine."""
import os
import re
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
