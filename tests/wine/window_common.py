"""Shared parts of the tests that drive the installer's real window under Wine: the layout and
slide captions as shipped, the scaling rules, screenshots, the monitor DPI of the prefix, and
the checks that several window tests make (footer line, language switch, slide dots)."""
import contextlib
import json
import os
import subprocess
import tempfile
import time
from pathlib import Path

import installer
import journey
import wineenv

SOURCE = Path(os.environ.get("QV_SOURCE_DIR", Path(__file__).resolve().parents[2]))
LAYOUT = json.loads((SOURCE / "src" / "resources" / "layout.json").read_text(encoding="utf-8"))
SLIDES = json.loads((SOURCE / "src" / "resources" / "slides.json").read_text(encoding="utf-8"))
# The language table's order: an entry's position in the language list is its index.
LANG_CODES = ["en", "de", "fr", "es", "pt", "it", "zh-Hans", "zh-Hant", "ja"]
LANG_NAMES = ["English", "Deutsch", "Français", "Español", "Português", "Italiano", "简体中文", "繁體中文", "日本語"]

ACCENT = 0x1B9CFF      # #FF9C1B as a COLORREF
GLYPH_GREY = 0x666666  # #666666
BORDER = "#E1E1E1"
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"


def scale(length, dpi):
    """A 96-DPI length of the layout at `dpi`, rounded to the nearest integer, halves up."""
    return (length * dpi + 48) // 96


def scale_length(length, dpi):
    """A length computed at run time: length x percentage / 100, rounded, halves up."""
    percent = (100 * dpi + 48) // 96
    return (length * percent + 50) // 100


def layout_places(dpi):
    """Every control's place in the window's client area at `dpi` as the layout gives it
    (before anything computed at run time moves it): name -> (x, y, w, h)."""
    places = {}
    for c in LAYOUT["controls"]:
        left, top, width, height = (scale(v, dpi) for v in c["bounds"])
        px, py = places[c["parent"]][:2] if c.get("parent") else (0, 0)
        places[c["name"]] = (px + left, py + top, width, height)
    return places


def rect(c):
    return c["x"], c["y"], c["w"], c["h"]


def wait_log(pred, timeout=5):
    """The log's lines once `pred(lines)` holds (or the last lines read)."""
    lines = installer.wait_until(lambda: (lambda ls: ls if pred(ls) else None)(installer.read_log()[1]),
                                 timeout=timeout)
    return lines or installer.read_log()[1]


def start_with_slow_download(cls, dpi=None):
    """Starts one installer for a test class (at `dpi` when given), its download served so slowly
    (about 100 s for the stand-in's bytes) that an install view stays up for every test; sets
    cls.work, cls.server, cls.fake and cls.proc."""
    assert installer.window_state() is None, "an installer from an earlier test still runs"
    installer.reset_log()
    cls.work = Path(tempfile.mkdtemp(prefix="qv-window-"))
    cls.server = journey.download_server(["slow:4000"])
    cls.server.start()
    cls.fake = journey.FakeInstaller(cls.work / "record.jsonl")
    if dpi is None:
        cls.proc = installer.start(extra_env=cls.fake.env)
    else:
        with monitor_dpi(dpi):
            cls.proc = installer.start(extra_env=cls.fake.env)


def answer_exit_question_no(test, what):
    """The exit question has come (Yes and No); No closes it and keeps the window."""
    box = installer.wait_until(installer.message_box, timeout=5)
    test.assertIsNotNone(box, f"{what} asked nothing")
    test.assertEqual(sorted(box["buttons"]), [6, 7])
    installer.press(7)
    test.assertTrue(installer.wait_until(lambda: installer.message_box() is None, timeout=5))


def wait_state(key, value, timeout=5):
    return installer.wait_until(lambda: installer.state()[key] == value, timeout=timeout, step=0.05)


class Shot:
    """A screenshot of the installer's client area."""

    def __init__(self):
        out = subprocess.run(["import", "-window", installer.xwindow(), "-depth", "8", "ppm:-"],
                             env=wineenv.env(), capture_output=True, check=True).stdout
        # Binary PPM: "P6", width, height, maximum value, one whitespace, then RGB bytes.
        fields, pos = [], 0
        while len(fields) < 4:
            while out[pos:pos + 1].isspace():
                pos += 1
            end = pos
            while not out[end:end + 1].isspace():
                end += 1
            fields.append(out[pos:end])
            pos = end
        self.width, self.height = int(fields[1]), int(fields[2])
        self.data = out[pos + 1:]

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return "#%02X%02X%02X" % tuple(self.data[i:i + 3])

    def row(self, y):
        return [self.pixel(x, y) for x in range(self.width)]

    def crop(self, x, y, w, h):
        return [self.data[3 * (yy * self.width + x):3 * (yy * self.width + x + w)] for yy in range(y, y + h)]


@contextlib.contextmanager
def monitor_dpi(dpi):
    """The prefix's monitor at `dpi` for programs started inside the block; 96 afterwards."""
    wineenv.run("reg", "add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
    try:
        yield
    finally:
        wineenv.run("reg", "add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "96", "/f")


# ---- checks shared by the window tests ---------------------------------------------------------

FOOTER = ("chkAccept", "lblPrivacy", "lblAnd", "lblLicense", "lblSettings")


def check_footer(test, dpi, client_width, c=None):
    """The acceptance line laid out by width (check box just wide enough, labels a scaled 5 px
    apart), and the settings link a scaled 16 px from the right edge."""
    c = c or installer.controls()
    gap = scale_length(5, dpi)
    chk, privacy, and_, licence, settings = (c[n] for n in FOOTER)
    test.assertEqual((chk["x"], chk["y"]), (scale(24, dpi), scale(330, dpi)))
    test.assertEqual({n: c[n]["y"] for n in FOOTER[1:]}, {n: scale(331, dpi) for n in FOOTER[1:]})
    test.assertEqual([privacy["x"], and_["x"], licence["x"]],
                     [chk["x"] + chk["w"] + gap, privacy["x"] + privacy["w"] + gap, and_["x"] + and_["w"] + gap])
    test.assertEqual(client_width - (settings["x"] + settings["w"]), scale_length(16, dpi),
                     f"settings link {rect(settings)} in a client {client_width} wide")
    return c


def language_lines():
    return [l for l in installer.read_log()[1] if l.startswith("UI: language changed to ")]


def wait_language_lines(count, timeout=5):
    """The "language changed" lines once there are at least `count`."""
    return installer.wait_until(lambda: (lambda ls: ls if len(ls) >= count else None)(language_lines()),
                                timeout=timeout) or language_lines()


def switch_language_round_trip(test, dpi, steps):
    """With the settings panel open: picks the language `steps` entries below English through the
    opened list (click, Down..., Return), then English again with Up on the closed list.  Each
    change writes one line; the footer follows the longer texts and comes back to the pixel."""
    client_width = int(installer.state()["client"].split("x")[0])
    before = check_footer(test, dpi, client_width)
    lines = language_lines()
    target = LANG_NAMES[steps]

    installer.click("cbLanguage")
    time.sleep(0.3)
    installer.key(*["Down"] * steps, "Return")
    test.assertTrue(wait_state("lang", str(steps)), installer.state())
    expected = lines + [f"UI: language changed to {LANG_NAMES[i]}" for i in range(1, steps + 1)]
    test.assertEqual(wait_language_lines(len(expected)), expected)
    after = check_footer(test, dpi, client_width)
    test.assertEqual(after["cbLanguage"]["text"], target)
    test.assertGreater(after["chkAccept"]["w"], before["chkAccept"]["w"])
    for name in ("lblPrivacy", "lblAnd", "lblLicense"):
        test.assertGreater(after[name]["x"], before[name]["x"], name)
        test.assertNotEqual(after[name]["text"], before[name]["text"], name)

    # The list keeps the focus after the pick: Up on the closed list goes back one entry at a time.
    test.assertEqual(installer.state()["focus"], "cbLanguage")
    installer.key(*["Up"] * steps)
    test.assertTrue(wait_state("lang", "0"), installer.state())
    expected += [f"UI: language changed to {LANG_NAMES[i]}" for i in range(steps - 1, -1, -1)]
    test.assertEqual(wait_language_lines(len(expected)), expected)
    back = check_footer(test, dpi, client_width)
    test.assertEqual({n: (rect(back[n]), back[n]["text"]) for n in FOOTER},
                     {n: (rect(before[n]), before[n]["text"]) for n in FOOTER})
    # A moment later nothing more has been written: one line per change, not per message.
    time.sleep(0.5)
    test.assertEqual(language_lines(), expected)


def dot_x(slide, box_width):
    """The centre of a slide's dot, relative to the dots' paint box."""
    return (box_width - 56) // 2 + 16 * slide + 4


def click_dots_at(x, button=1, dots=None, xid=None):
    """A click at x (relative to pbDots, may lie outside it) in the middle of the dots' row."""
    c = dots or installer.controls()["pbDots"]
    installer.xdotool("mousemove", "--window", xid or installer.xwindow(), c["x"] + x, c["y"] + c["h"] // 2,
                      "click", button)


def wait_slide(index, timeout=2):
    return installer.wait_until(lambda: installer.state()["slide"] == str(index), timeout=timeout, step=0.05)


def check_dot_hits(test, cases):
    """Each case (x, button, expected slide or None): a dot click first selects another slide
    (and restarts the interval, so the timer cannot interfere), then the click at x selects the
    expected slide, or leaves the slide as it was when None; the window never moves."""
    dots, xid = installer.controls()["pbDots"], installer.xwindow()
    where = installer.window_rect()
    for x, button, expected in cases:
        with test.subTest(x=x, button=button):
            first = 2 if expected in (None, 0, 1, 3) else 1
            click_dots_at(dot_x(first, dots["w"]), 1, dots, xid)
            test.assertTrue(wait_slide(first))
            click_dots_at(x, button, dots, xid)
            if expected is None:
                time.sleep(0.4)
                test.assertEqual(installer.state()["slide"], str(first))
            else:
                test.assertTrue(wait_slide(expected), f"slide {installer.state()['slide']}, not {expected}")
    test.assertEqual(installer.window_rect(), where)


def check_drags(test, cases):
    """Each case (a control's name or a client point, mouse button, whether the window moves):
    a drag of 40, 30 px (alternating in direction, so the window stays on the screen) moves
    the window by exactly that much, or not at all."""
    sign = 1
    for where, button, moves in cases:
        with test.subTest(where=where, button=button):
            before = installer.window_rect()
            by = (40 * sign, 30 * sign)
            if isinstance(where, tuple):
                installer.drag_at(*where, by=by, button=button)
            else:
                installer.drag(where, by=by, button=button)
            if moves:
                moved = (before[0] + by[0], before[1] + by[1]) + before[2:]
                test.assertTrue(installer.wait_until(lambda: installer.window_rect() == moved, timeout=2),
                                f"window at {installer.window_rect()}, not {moved}")
                sign = -sign
            else:
                time.sleep(0.3)
                test.assertEqual(installer.window_rect(), before)
