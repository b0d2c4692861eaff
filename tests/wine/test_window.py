"""The installer's window at 96 DPI, driven with the mouse and keyboard on the X display and read
through its test channel: settings panel and border, language switch, caption glyphs, dragging
on the main view, a move to a monitor of 144 DPI and back, and the keyboard path to Install."""
import shutil
import tempfile
import time
import unittest
from pathlib import Path

import installer
import journey
import window_common as wc

FLOW_CLICKED = "FLOW: Install clicked"


class MainView(unittest.TestCase):
    """One window serves these checks; each leaves it as it found it (main view, settings panel
    closed, English), apart from where it stands on the screen."""

    @classmethod
    def setUpClass(cls):
        assert installer.window_state() is None, "an installer from an earlier test still runs"
        installer.reset_log()
        cls.proc = installer.start()

    @classmethod
    def tearDownClass(cls):
        if installer.close(cls.proc) != 0:
            raise AssertionError("the installer did not end cleanly")

    def setUp(self):
        st = installer.state()
        self.assertEqual((st["client"], st["lang"], st["dpi"]), ("640x368", "0", "96"))

    def toggle_settings(self, height):
        installer.click("lblSettings")
        self.assertTrue(wc.wait_state("client", f"640x{height}"), installer.state())

    def test_settings_panel_grows_the_window_downwards_with_its_border(self):
        left, top, width, _ = installer.window_rect()
        self.assertEqual(wc.Shot().row(367), [wc.BORDER] * 640)
        self.toggle_settings(517)
        self.assertEqual(installer.window_rect(), (left, top, width, 517))
        self.assertTrue(installer.controls()["pnlSettings"]["showing"])
        shot = wc.Shot()
        self.assertEqual((shot.width, shot.height), (640, 517))
        self.assertEqual(shot.row(516), [wc.BORDER] * 640)
        # The old bottom row is inside the window now: outlined at its two ends only.
        old = shot.row(367)
        self.assertEqual((old[0], old[639]), (wc.BORDER, wc.BORDER))
        self.assertNotIn(wc.BORDER, old[1:639])
        self.toggle_settings(368)
        self.assertEqual(installer.window_rect(), (left, top, width, 368))
        self.assertEqual(installer.state()["collapsed"], "368")
        self.assertFalse(installer.controls()["pnlSettings"]["showing"])
        self.assertEqual(wc.Shot().row(367), [wc.BORDER] * 640)

    def test_language_switch_lays_out_the_footer_again(self):
        self.toggle_settings(517)
        try:
            wc.switch_language_round_trip(self, 96, 1)  # Deutsch: longer texts, shorter settings link
        finally:
            self.toggle_settings(368)

    def test_caption_glyphs(self):
        x, y = installer.point("lblClose")
        # Over, off (background), over, off (below, still in the window), over, off (out of the
        # window: the system notices a pointer outside its windows only by looking, so allow time).
        for at, colour in (((x, y), wc.ACCENT), ((300, 100), wc.GLYPH_GREY), ((x, y), wc.ACCENT),
                           ((x, y + 40), wc.GLYPH_GREY), ((x + 3, y - 3), wc.ACCENT), ((700, 100), wc.GLYPH_GREY)):
            installer.mouse_to(*at)
            self.assertTrue(wc.wait_state("glyphColor", str(colour), timeout=2),
                            f"at {at}: {installer.state()['glyphColor']}, not {colour}")
        installer.mouse_to(300, 100)  # back inside, away from the glyph

        # The close glyph and Alt+F4 both ask before leaving; No keeps the window.
        for how in ("lblClose", "alt+F4"):
            with self.subTest(how=how):
                if how == "lblClose":
                    installer.click("lblClose")
                else:
                    installer.focus_window()
                    installer.key("alt+F4")
                box = installer.wait_until(installer.message_box, timeout=5)
                self.assertIsNotNone(box, "no exit question")
                self.assertEqual((box["caption"], sorted(box["buttons"])), ("Quorvel", [6, 7]))
                self.assertTrue(installer.press(7))
                self.assertTrue(installer.wait_until(lambda: installer.message_box() is None, timeout=5))
                self.assertIsNone(self.proc.poll())
                self.assertEqual(installer.state()["closing"], "0")
        self.assertNotIn("UI: user confirmed exit", installer.read_log()[1])

        # A borderless pop-up (no caption, no sizing frame) with a system menu and a minimise box,
        # so that its taskbar button can minimise and restore it.
        popup, caption, sysmenu, frame, minbox, maxbox = 0x80000000, 0xC00000, 0x80000, 0x40000, 0x20000, 0x10000
        style = int(installer.window_state()["style"]) & 0xFFFFFFFF
        self.assertEqual(style & (popup | caption | sysmenu | frame | minbox | maxbox), popup | sysmenu | minbox)
        # The minimise glyph sends the window to its taskbar button; a restore brings it back.
        installer.click("lblMin")
        self.assertTrue(installer.wait_until(lambda: installer.window_state()["iconic"] == "1", timeout=5))
        installer.tool("restore")
        self.assertTrue(installer.wait_until(lambda: installer.window_state()["iconic"] == "0", timeout=5))
        self.assertEqual(installer.window_state()["client"], "640x368")
        installer.mouse_to(300, 100)

    def test_dragging_the_main_view(self):
        # (where: a control, or a client point; mouse button; moves the window)
        cases = [("imgProduct", 1, True), ("lblBrand", 1, True),
                 ((120, 100), 1, True),                   # the window's bare background
                 ("imgProduct", 3, False), ((120, 100), 2, False),
                 ("lblStatus", 1, False)]                 # a status label, empty but there
        wc.check_drags(self, cases)

    def test_move_to_a_monitor_of_another_dpi_and_back(self):
        self.addCleanup(lambda: installer.state()["dpi"] == "96" or installer.ask("dpi 96"))
        c96 = installer.controls()
        product96 = wc.Shot().crop(*wc.rect(c96["imgProduct"]))
        left, top = installer.window_rect()[:2]

        self.assertEqual(installer.ask("dpi 144").strip(), "ok")
        st = installer.state()
        self.assertEqual((st["dpi"], st["client"], st["collapsed"]), ("144", "960x552", "552"))
        self.assertEqual(installer.window_rect(), (left, top, 960, 552))
        c = installer.controls()
        # Places of the layout at 1.5 times, for the sizes and edges that nothing computes later.
        computed = {"lblBrand": "wh", "chkAccept": "w", "lblPrivacy": "xwh", "lblAnd": "xwh", "lblLicense": "xwh",
                    "lblSettings": "xwh", "lblLang": "wh", "lblPath": "wh", "lblSlideTitle": "y", "imgSlide": "xywh",
                    "pbDots": "y", "lblInst1": "wh", "lblInstPct": "xwh"}
        for name, (x, y, w, h) in wc.layout_places(144).items():
            keep = [k for k in "xywh" if k not in computed.get(name, "")]
            self.assertEqual({k: c[name][k] for k in keep}, {k: v for k, v in zip("xywh", (x, y, w, h)) if k in keep},
                             name)
        self.assertEqual(wc.rect(c["pbInstall"]), (300, 312, 360, 72))
        self.assertEqual(wc.rect(c["imgProduct"]), (408, 87, 144, 144))
        wc.check_footer(self, 144, 960, c)  # check box top 495, settings link 24 px from the edge
        # The banner laid out again with scaled lengths: title 12 down, dots 6 above the bottom,
        # the picture between them (3 below the title, 6 above the dots, 18 in from each side).
        banner = c["pnlBanner"]
        title, dots = c["lblSlideTitle"], c["pbDots"]
        self.assertEqual((banner["w"], banner["h"], title["h"], dots["w"], dots["h"]), (957, 443, 33, 90, 21))
        self.assertEqual(title["y"] - banner["y"], 12)
        self.assertEqual(dots["y"] - banner["y"], 443 - 21 - 6)
        title_bottom = title["y"] + title["h"]
        self.assertEqual(wc.rect(c["imgSlide"]),
                         (banner["x"] + 18, title_bottom + 5, 957 - 36, dots["y"] - title_bottom - 9))

        self.assertEqual(installer.ask("dpi 96").strip(), "ok")
        st = installer.state()
        self.assertEqual((st["dpi"], st["client"], st["collapsed"]), ("96", "640x368", "368"))
        back = installer.controls()
        # The percentage label has no place of its own until a status is shown: the move placed it
        # after the (empty) status text, as an install would.
        for cc in (c96, back):
            del cc["lblInstPct"]
        self.assertEqual(back, c96)
        # The product picture is drawn afresh for 96 DPI, not shrunk from the 144-DPI one.
        self.assertEqual(wc.Shot().crop(*wc.rect(back["imgProduct"])), product96)

        # With the settings panel open the window keeps it open at the new DPI.
        self.toggle_settings(517)
        try:
            installer.ask("dpi 144")
            self.assertEqual(installer.state()["client"], "960x775")
            wc.check_footer(self, 144, 960)
            installer.ask("dpi 96")
            self.assertEqual(installer.state()["client"], "640x517")
        finally:
            self.toggle_settings(368)
        self.assertEqual(installer.controls()["lblSettings"], c96["lblSettings"])


class KeyboardPath(unittest.TestCase):
    """A fresh window, by keyboard alone: Tab order, the check box, the links, Esc and Enter."""

    def setUp(self):
        self.assertIsNone(installer.window_state(), "an installer from an earlier test still runs")
        installer.reset_log()
        # A download that lasts, and a stand-in for the installer should it ever arrive.
        self.server = journey.download_server(["slow:5000"])
        self.server.start()
        self.addCleanup(self.server.stop)
        work = Path(tempfile.mkdtemp(prefix="qv-window-"))
        self.addCleanup(shutil.rmtree, work, True)
        self.fake = journey.FakeInstaller(work / "record.jsonl")
        self.proc = installer.start(extra_env=self.fake.env)
        self.addCleanup(lambda: self.proc.poll() is not None or installer.close(self.proc))

    def step(self, keys, focus):
        """Presses `keys` and waits for the focus to reach `focus`."""
        installer.key(keys)
        self.assertTrue(wc.wait_state("focus", focus, timeout=2),
                        f"after {keys} the focus is on {installer.state()['focus']}, not {focus}")

    def test_tab_space_escape_and_enter(self):
        installer.focus_window()
        for focus in ("chkAccept", "pbInstall", "lblPrivacy", "lblLicense", "lblSettings", "chkAccept"):
            self.step("Tab", focus)

        # Enter on the settings link opens the panel, and again closes it.
        self.step("shift+Tab", "lblSettings")
        installer.key("Return")
        self.assertTrue(wc.wait_state("client", "640x517"), installer.state())
        self.step("Tab", "cbLanguage")  # the panel's controls follow in the tab order
        self.step("shift+Tab", "lblSettings")
        installer.key("Return")
        self.assertTrue(wc.wait_state("client", "640x368"), installer.state())

        # Space on the check box unticks it: Install turns grey and a click on it does nothing.
        self.step("Tab", "chkAccept")
        installer.key("space")
        self.assertTrue(wc.wait_state("installEnabled", "0"))
        where = installer.window_rect()
        installer.click("pbInstall")
        self.assertTrue(wc.wait_state("focus", "pbInstall"))  # the click has arrived
        time.sleep(0.3)
        self.assertNotIn(FLOW_CLICKED, "\n".join(installer.read_log()[1]))
        self.assertEqual(installer.window_rect(), where)
        self.assertFalse(installer.controls()["pnlInstallView"]["showing"])
        self.step("shift+Tab", "chkAccept")
        installer.key("space")
        self.assertTrue(wc.wait_state("installEnabled", "1"))

        # Esc asks the exit question; No keeps the window.
        installer.key("Escape")
        wc.answer_exit_question_no(self, "Esc")
        self.assertIsNone(self.proc.poll())
        # The check box had the focus before the question and has it again after it.
        self.assertTrue(wc.wait_state("focus", "chkAccept"), installer.state())

        # Enter on the focused Install button starts the install.
        self.step("Tab", "pbInstall")
        installer.key("Return")
        lines = wc.wait_log(lambda ls: any(l.startswith(FLOW_CLICKED) for l in ls))
        self.assertEqual([l for l in lines if l.startswith(FLOW_CLICKED)],
                         ['FLOW: Install clicked, dir="C:\\Program Files\\Quorvel", lang=english'])
        self.assertTrue(installer.wait_until(lambda: installer.controls()["pnlInstallView"]["showing"]))

if __name__ == "__main__":
    unittest.main(verbosity=2)
