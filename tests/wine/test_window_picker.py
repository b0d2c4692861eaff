"""The Browse button's folder picker, the real dialog under Wine: a path typed into it and
Return confirms, Escape cancels; the folder box ends in the product folder either way."""
import shutil
import time
import unittest

import installer
import wineenv
import window_common as wc

TITLE = "Select install location"  # the English text of the picker's title
ROOT = "C:\\qv-picker"


def dialog():
    box = installer.message_box()
    return box if box and box["caption"] == TITLE else None


class FolderPicker(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        assert installer.window_state() is None, "an installer from an earlier test still runs"
        for folder in ("Games\\quorvel", "Games\\Quorvel2", "Apps\\Quorvel"):
            wineenv.windows_to_unix(f"{ROOT}\\{folder}").mkdir(parents=True, exist_ok=True)
        installer.reset_log()
        cls.proc = installer.start()
        installer.click("lblSettings")
        assert wc.wait_state("client", "640x517"), installer.state()

    @classmethod
    def tearDownClass(cls):
        try:
            assert installer.close(cls.proc) == 0
        finally:
            shutil.rmtree(wineenv.windows_to_unix(ROOT), ignore_errors=True)

    def browse(self, typed):
        """Opens the picker with Browse, types `typed` and Return (or Escape when None); returns
        the folder box's text and the log line written for it."""
        before = len(installer.read_log()[1])
        installer.click("btnBrowse")
        self.assertIsNotNone(installer.wait_until(dialog, timeout=10), "no folder picker")
        self.assertEqual(sorted(dialog()["buttons"]), [1, 2])
        installer.xdotool("windowfocus", "--sync", installer.xwindow(f"^{TITLE}$"))
        time.sleep(0.2)
        if typed is None:
            installer.key("Escape")
        else:
            installer.xdotool("type", "--delay", 20, typed)
            installer.key("Return")
        self.assertTrue(installer.wait_until(lambda: dialog() is None, timeout=10), "the picker stayed open")
        lines = wc.wait_log(lambda ls: len(ls) > before and any(l.startswith("UI: install dir set to ")
                                                                  for l in ls[before:]))
        return installer.controls()["edtLocation"]["text"], [l for l in lines[before:] if l.startswith("UI: ")]

    def test_chosen_folder_ends_in_the_product_folder(self):
        start = installer.controls()["edtLocation"]["text"]
        cases = [
            (f"{ROOT}\\Games", f"{ROOT}\\Games\\Quorvel"),                     # the product folder appended
            (f"{ROOT}\\Apps\\Quorvel", f"{ROOT}\\Apps\\Quorvel"),              # already its own folder
            (f"{ROOT}\\Games\\quorvel", f"{ROOT}\\Games\\quorvel"),            # in any case of the letters
            (f"{ROOT}\\Games\\Quorvel2", f"{ROOT}\\Games\\Quorvel2\\Quorvel"),  # a name that only contains it
            ("C:\\", "C:\\Quorvel"),                                          # a drive's root
            (None, "C:\\Quorvel"),                                            # Escape keeps the text
        ]
        self.assertEqual(start, "C:\\Program Files\\Quorvel")
        for typed, expected in cases:
            with self.subTest(typed=typed):
                text, lines = self.browse(typed)
                self.assertEqual(text, expected)
                self.assertEqual(lines, [f"UI: install dir set to {expected}"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
