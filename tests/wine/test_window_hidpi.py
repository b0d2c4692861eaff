"""The installer's window started on a monitor of 144 DPI: the settings panel, the language switch,
a move to 96 DPI and back, and the slide dots of a 1.5-times wider paint box."""
import shutil
import unittest

import installer
import window_common as wc


class HighDpi(unittest.TestCase):
    """One window at 144 DPI; the tests run in the order of their names and the last one starts
    an install (a slow download that never completes)."""

    @classmethod
    def setUpClass(cls):
        wc.start_with_slow_download(cls, dpi=144)

    @classmethod
    def tearDownClass(cls):
        try:
            code = installer.close(cls.proc)
        finally:
            cls.server.stop()
            shutil.rmtree(cls.work, ignore_errors=True)
        assert code == 0, f"exit code {code}"

    def toggle_settings(self, height):
        installer.click("lblSettings")
        self.assertTrue(wc.wait_state("client", f"960x{height}"), installer.state())

    def test_1_settings_panel_and_language_switch(self):
        st = installer.state()
        self.assertEqual((st["dpi"], st["client"], st["collapsed"]), ("144", "960x552", "552"))
        left, top = installer.window_rect()[:2]
        self.toggle_settings(775)
        self.assertEqual(wc.rect(installer.controls()["pnlSettings"]), (2, 552, 957, 222))
        self.assertEqual(installer.window_rect(), (left, top, 960, 775))
        self.assertEqual(wc.Shot().row(774), [wc.BORDER] * 960)
        try:
            wc.switch_language_round_trip(self, 144, 1)
        finally:
            self.toggle_settings(552)
        self.assertEqual(installer.window_rect(), (left, top, 960, 552))
        self.assertEqual(wc.Shot().row(551), [wc.BORDER] * 960)

    def test_2_move_to_96_dpi_and_back(self):
        c144 = installer.controls()
        product144 = wc.Shot().crop(*wc.rect(c144["imgProduct"]))
        installer.ask("dpi 96")
        self.addCleanup(lambda: installer.state()["dpi"] == "144" or installer.ask("dpi 144"))
        st = installer.state()
        self.assertEqual((st["dpi"], st["client"], st["collapsed"]), ("96", "640x368", "368"))
        c = installer.controls()
        self.assertEqual((wc.rect(c["pbInstall"]), wc.rect(c["imgProduct"])), ((200, 208, 240, 48), (272, 58, 96, 96)))
        wc.check_footer(self, 96, 640, c)
        installer.ask("dpi 144")
        back = installer.controls()
        for cc in (c144, back):
            del cc["lblInstPct"]  # placed after the status text once a status has been shown
        self.assertEqual(back, c144)
        # Drawn afresh at 144 DPI: the same pixels as the picture made when the window was created.
        self.assertEqual(wc.Shot().crop(*wc.rect(back["imgProduct"])), product144)

    def test_3_dots_of_the_wider_box(self):
        installer.click("pbInstall")
        self.assertTrue(installer.wait_until(lambda: installer.controls()["pnlInstallView"]["showing"], timeout=5))
        c = installer.controls()
        banner, title, dots = c["pnlBanner"], c["lblSlideTitle"], c["pbDots"]
        self.assertEqual((dots["w"], dots["h"], dots["x"] - banner["x"]), (90, 21, wc.scale(289, 144)))
        self.assertEqual((title["y"] - banner["y"], dots["y"] - banner["y"]), (12, banner["h"] - 21 - 6))
        self.assertEqual(c["lblSlideTitle"]["text"], wc.SLIDES["en"][0])
        # The dots keep their 8-px size and 16-px pitch, centred: x0 = (90 - 56) / 2 = 17.  Up to
        # 15 px left of the first dot is still slide 0 (x = 2), one more is nothing; each slide
        # takes 16 px from its dot's left edge back, slide 3 up to x0+63, the rest of the box nothing.
        wc.check_dot_hits(self, [(1, 1, None), (2, 1, 0), (16, 1, 0), (33, 1, 1), (64, 1, 2), (65, 1, 3),
                                 (80, 1, 3), (81, 1, None), (89, 1, None)])


if __name__ == "__main__":
    unittest.main(verbosity=2)
