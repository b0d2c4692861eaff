"""Whole installs through the real window: Install, the download, the silent installer, the
finish view and Start Now; a download that resumes after a short answer; and an Install click
with no folder."""
import time
import unittest

import installer
import journey
import wineenv
from journey_common import DEFAULT_DIR, EXIT_LINE, UA, JourneyCase, event

TYPED_DIR = r"C:\qv journeys\Quorvel Neu"


class InstallJourneys(JourneyCase):
    install_dirs = (DEFAULT_DIR, TYPED_DIR)

    def test_install_then_start_now(self):
        # English with the default folder; German (from the user's locale) into a folder typed with
        # blanks around it and a trailing backslash, which the installer gets trimmed, without it.
        for lang, env, typed, folder, start_now in (
                ("english", {}, None, DEFAULT_DIR, "Start Now"),
                ("german", {"LC_ALL": "de_DE.UTF-8"}, f"  {TYPED_DIR}\\ ", TYPED_DIR, "Jetzt starten")):
            with self.subTest(lang=lang):
                installer.reset_log()
                server = self.serve(["file"])
                p = self.launch(env=env)
                if typed:
                    installer.click("lblSettings")
                    installer.click("edtLocation")
                    installer.key("ctrl+a", "BackSpace")
                    installer.xdotool("type", "--delay", 20, typed)
                    self.assertEqual(installer.controls()["edtLocation"]["text"], typed)
                t0 = time.monotonic()
                installer.click("pbInstall")
                self.wait_state("done", "1", timeout=40)
                finished = time.monotonic() - t0
                shown = self.shown()
                self.assertEqual(shown.get("pbStart"), start_now)
                self.assertNotIn("pnlInstallView", shown)
                st = installer.state()
                self.assertEqual((st["tmrInstall"], st["progress"], st["activityHeld"]), ("0", "1000", "0"))

                (run,) = self.fake.runs()
                self.assertEqual(run["args"], journey.INSTALLER_SWITCHES + [f"/LANG={lang}", f"/DIR={folder}"])
                self.assertTrue(run["cmdline"].endswith(f' /NORESTART /LANG={lang} /DIR="{folder}"'), run["cmdline"])
                self.assertFalse(self.temp_file.exists(), "the downloaded installer outlived its run")

                installer.click("pbStart")
                self.assertEqual(p.wait(timeout=20), 0)
                print(f"\n{lang} journey from the Install click: finish view after {finished:.2f} s, "
                      f"window closed after {time.monotonic() - t0:.2f} s")
                app_dir = wineenv.windows_to_unix(folder)
                self.assertTrue(journey.wait_for(lambda: journey.started(app_dir), timeout=10))
                time.sleep(0.5)  # a second, wrong start would show up by now
                self.assertEqual([s["exe"] for s in journey.started(app_dir)], [folder + "\\Quorvel.exe"])

                self.assertEqual(server.requests, [(journey.DOWNLOAD_PATH, None, UA)])
                self.assertEqual(self.journey_log(),
                                 [event("setup_run")] + self.clicked(typed.strip() if typed else folder, lang)
                                 + self.downloaded(len(server.body())) + self.launching(folder, lang)
                                 + self.installed()
                                 + [f'FLOW: Start Now, launching "{folder}\\Quorvel.exe" (de-elevated via explorer)',
                                    EXIT_LINE])
                self.assertFalse(self.temp_file.exists())
                server.stop()

    def test_short_answer_is_resumed_from_the_bytes_received(self):
        received = 100_000
        server = self.serve([f"short:{received}", "file"])
        p = self.launch()
        installer.click("pbInstall")
        self.wait_state("done", "1", timeout=40)
        size = len(server.body())
        self.assertEqual(server.requests, [(journey.DOWNLOAD_PATH, None, UA),
                                           (journey.DOWNLOAD_PATH, f"bytes={received}-", UA)])
        # The installer ran from the joined file and installed the application it carries.
        app = wineenv.windows_to_unix(DEFAULT_DIR) / "Quorvel.exe"
        self.assertEqual(app.read_bytes(), journey.FAKE_APP.read_bytes())
        installer.click("lblClose")  # finished: no question
        self.assertEqual(p.wait(timeout=20), 0)
        self.assertEqual(self.journey_log(),
                         [event("setup_run")] + self.clicked() + self.get_lines()
                         + [f"DL: content length {size} bytes (+ 0 already on disk)",
                            f"DL: HTTP 200 OK, received {received} bytes total",
                            f"DL: body incomplete ({received} of {size} bytes), keeping partial for resume",
                            "FLOW: download FAILED (HTTP 200): Connection closed before the download completed.",
                            event("install_retry", "download_error_incomplete"),
                            f"FLOW: auto-retry 1/3 in 1000 ms (resume from byte {received})",
                            f"DL: RESUME {journey.DOWNLOAD_URL} -> {self.temp_win} from byte {received}",
                            f"DL: content length {size - received} bytes (+ {received} already on disk)",
                            f"DL: HTTP 206 Partial Content, received {size} bytes total",
                            "FLOW: download complete"]
                         + self.launching() + self.installed() + [EXIT_LINE])

    def test_install_without_a_folder_asks_for_one(self):
        server = self.serve(["file"])
        p = self.launch()
        installer.click("lblSettings")
        installer.click("edtLocation")
        installer.key("ctrl+a", "BackSpace", "space", "space", "space")
        self.assertEqual(installer.controls()["edtLocation"]["text"], "   ")
        installer.click("lblSettings")  # closed again: the click must open it
        self.assertNotIn("pnlSettings", self.shown())
        # Blanks only, with the panel closed; then nothing at all, with the panel open, which the
        # click must leave open.
        for keys in ((), ("ctrl+a", "BackSpace")):
            with self.subTest(keys=keys):
                if keys:
                    installer.key(*keys)
                installer.click("pbInstall")
                self.wait_box()
                self.assertIn("pnlSettings", self.shown())
                self.assertEqual(installer.state()["client"], "640x517")
                self.answer_box("Please choose an install location.", [1], 1)
                self.assertEqual(installer.state()["focus"], "edtLocation")
        shown = self.shown()
        self.assertEqual((shown["pbInstall"], shown["edtLocation"]), ("Install", ""))
        self.assertNotIn("pnlInstallView", shown)
        self.assertEqual(installer.state()["downloading"], "0")
        self.assertEqual(server.requests, [])
        self.assertEqual(self.journey_log(), [event("setup_run")])
        self.assertEqual(installer.close(p), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
