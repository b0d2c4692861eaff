"""The install view of the real window under Wine while a download runs (a slow local server, a
stand-in installer that never gets to run): the slide carousel and its dots, dragging the window
by the banner, and the frame's controls while the view covers the title row."""
import shutil
import time
import unittest

import installer
import window_common as wc

INTERVAL = 3.5
FRENCH = 2
TITLES = wc.SLIDES[wc.LANG_CODES[FRENCH]]


def slide():
    return int(installer.state()["slide"])


def shown_slide():
    """The slide index and the title on the banner."""
    st, c = installer.state(), installer.controls()
    return int(st["slide"]), c["lblSlideTitle"]["text"]


def sleep_until(t):
    time.sleep(max(0.0, t - time.monotonic()))


class InstallView(unittest.TestCase):
    """One install in French, started with the settings panel open; the tests run in the order
    of their names, the carousel's timing first, before anything clicks the dots."""

    @classmethod
    def setUpClass(cls):
        wc.start_with_slow_download(cls)
        installer.click("lblSettings")
        assert wc.wait_state("client", "640x517"), installer.state()
        installer.click("cbLanguage")
        time.sleep(0.3)
        installer.key("Down", "Down", "Return")
        assert wc.wait_state("lang", str(FRENCH)), installer.state()
        installer.click("pbInstall")
        cls.clicked = time.monotonic()

    @classmethod
    def tearDownClass(cls):
        try:
            code = installer.close(cls.proc)
            lines = installer.read_log()[1]
        finally:
            cls.server.stop()
            shutil.rmtree(cls.work, ignore_errors=True)
        assert code == 0, f"exit code {code}"
        assert "FLOW: download cancelled, closing" in lines, lines[-8:]
        assert cls.fake.runs() == [], "the stand-in installer ran"

    def test_1_slides_advance_wrap_and_restart_after_a_dot_click(self):
        st = installer.state()
        self.assertEqual((st["slide"], st["tmrSlides"], st["downloading"], st["client"]), ("0", "1", "1", "640x368"))
        c = installer.controls()
        dots = c["pbDots"]
        self.assertTrue(c["pnlInstallView"]["showing"])
        self.assertFalse(c["pnlSettings"]["showing"])  # the open panel was closed first
        self.assertEqual(c["lblSlideTitle"]["text"], TITLES[0])
        self.assertIn('FLOW: Install clicked, dir="C:\\Program Files\\Quorvel", lang=french', installer.read_log()[1])

        def next_change(since, current, early=2.2, late=5.5):
            """Checks that `current` still shows `early` s after `since` and has given way by
            `late` s; returns (time seen, new slide, its title).  A timer left running from
            before a dot click would fire at most 2 s after it (the clicks come 1.5 s after a
            change), one restarted by the click 3.5 s after it; a slow answer from the window
            still comes in time."""
            sleep_until(since + early)
            self.assertEqual(slide(), current, f"changed before {early} s")
            changed = installer.wait_until(lambda: slide() != current, timeout=since + late - time.monotonic(),
                                           step=0.05)
            self.assertTrue(changed, f"slide {current} still shows {late} s on")
            return (time.monotonic(),) + shown_slide()

        seen, index, title = next_change(self.clicked, 0)
        self.assertEqual((index, title), (1, TITLES[1]))

        # A dot click shortly before the timer is due: its slide shows at once and the next
        # change comes a full interval later, from the chosen slide (3, so it wraps to 0).
        sleep_until(seen + 1.5)
        clicked = time.monotonic()
        wc.click_dots_at(wc.dot_x(3, dots["w"]), 1, dots)
        self.assertTrue(wc.wait_slide(3))
        self.assertEqual(shown_slide(), (3, TITLES[3]))
        seen, index, title = next_change(clicked, 3)
        self.assertEqual((index, title), (0, TITLES[0]))

        # The dot of the slide already shown: it shows again and the interval starts again.
        sleep_until(seen + 1.5)
        clicked = time.monotonic()
        wc.click_dots_at(wc.dot_x(0, dots["w"]), 1, dots)
        time.sleep(0.3)
        self.assertEqual(shown_slide(), (0, TITLES[0]))
        seen, index, title = next_change(clicked, 0)
        self.assertEqual((index, title), (1, TITLES[1]))

    def test_2_dots_take_clicks_by_sixteen_pixel_steps(self):
        # At 96 DPI the paint box is 60 wide with the first dot at x0 = 2: a click left of it
        # (down to x = 0) still selects slide 0, x0+56..x0+63 is slide 3 as far as the box goes,
        # any mouse button selects; outside the box the banner takes the click.
        c = installer.controls()["pbDots"]
        self.assertEqual((c["w"], c["h"]), (60, 14))
        wc.check_dot_hits(self, [(0, 1, 0), (17, 1, 0), (18, 1, 1), (34, 1, 2), (59, 1, 3), (22, 3, 1), (40, 2, 2),
                                 (-1, 1, None), (60, 1, None)])
        index, title = shown_slide()
        self.assertEqual(title, TITLES[index])

    def test_3_dragging_the_banner_moves_the_window_and_the_dots_do_not(self):
        c = installer.controls()
        banner, dots = c["pnlBanner"], c["pbDots"]
        corner = (banner["x"] + 4, banner["y"] + 4)  # the banner's bare corner
        dot3 = (dots["x"] + wc.dot_x(3, dots["w"]), dots["y"] + dots["h"] // 2)
        wc.check_drags(self, [("imgSlide", 1, True), ("lblSlideTitle", 1, True), (corner, 1, True),
                              ((6, 340), 1, True),  # the install view's bare margin
                              ("imgSlide", 3, False), (corner, 2, False), ("lblInst1", 1, False),
                              ("pbDots", 1, False), (dot3, 3, False)])
        # The presses on the dots selected the dot under them.
        self.assertEqual(slide(), 3)

    def test_4_frame_while_the_view_covers_the_title_row(self):
        # The caption glyphs lie under the view: a click at their places does neither.
        for name in ("lblClose", "lblMin"):
            installer.click(name)
            time.sleep(0.4)
            self.assertIsNone(installer.message_box(), name)
            self.assertEqual(installer.window_state()["iconic"], "0", name)
        # Hide minimises; a restore shows the view again.
        installer.click("btnHide")
        self.assertTrue(installer.wait_until(lambda: installer.window_state()["iconic"] == "1", timeout=5))
        installer.tool("restore")
        self.assertTrue(installer.wait_until(lambda: installer.window_state()["iconic"] == "0", timeout=5))
        self.assertTrue(installer.controls()["pnlInstallView"]["showing"])
        # Alt+F4 still reaches the close query, which asks; No goes on with the download.
        installer.focus_window()
        installer.key("alt+F4")
        wc.answer_exit_question_no(self, "Alt+F4")
        st = installer.state()
        self.assertEqual((st["downloading"], st["tmrSlides"], st["closing"]), ("1", "1", "0"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
