"""Leaving in the middle of an install through the real window: Alt+F4 during a download (No goes
on, Yes cancels and closes once the download has stopped), and closing or logging off while the
installer runs, which is refused every time."""
import re
import unittest

import installer
import wineenv
from journey_common import EXIT_LINE, JourneyCase, event

CONFIRM = "Are you sure you want to exit Quorvel Setup?"
IN_PROGRESS = "Please wait, installation is in progress..."
BLOCKED = "UI: close blocked, install in progress"


class ClosingJourneys(JourneyCase):
    def alt_f4(self):
        # Wine turns Alt+F4 into the system close command, as Windows does.
        installer.focus_window()
        installer.key("alt+F4")

    def progress(self):
        return int(installer.state()["progress"])

    def test_exit_during_download_no_goes_on_yes_cancels(self):
        server = self.serve(["slow:25000"])  # the fake installer at 25 kB/s: about 17 s
        p = self.launch()
        installer.click("pbInstall")
        self.assertTrue(installer.wait_until(lambda: self.progress() >= 50, timeout=15), installer.state())
        self.alt_f4()
        self.answer_box(CONFIRM, [6, 7], 7)
        before = self.progress()
        self.assertTrue(installer.wait_until(lambda: self.progress() > before, timeout=5),
                        "the download stopped after No")
        self.assertEqual(installer.state()["downloading"], "1")

        # The transfer is held, so the window is seen waiting for the download to stop.
        server.flowing.clear()
        self.alt_f4()
        self.answer_box(CONFIRM, [6, 7], 6)
        shown, st = self.shown(), installer.state()
        self.assertEqual((shown.get("lblInst1"), shown.get("lblInstPct")), ("Cancelling...", ""))
        self.assertEqual((st["closing"], st["downloading"]), ("1", "1"))
        self.assertIsNone(p.poll(), "closed before the download stopped")
        server.flowing.set()
        self.assertEqual(p.wait(timeout=20), 0)
        self.assertFalse(self.temp_file.exists(), "the partial download was left behind")

        lines = self.journey_log()
        cancelled = [l for l in lines if l.startswith("DL: cancelled")]
        m = re.fullmatch(r"DL: cancelled by user after (\d+) bytes, partial file deleted",
                         cancelled[0] if cancelled else "")
        self.assertIsNotNone(m, lines)
        size = len(server.body())
        self.assertLess(int(m.group(1)), size)
        self.assertEqual(lines, [event("setup_run")] + self.clicked() + self.get_lines()
                         + [f"DL: content length {size} bytes (+ 0 already on disk)", "UI: user confirmed exit",
                            m.group(0), "FLOW: download cancelled, closing", event("install_cancelled"), EXIT_LINE])
        self.assertEqual(len(server.requests), 1)

    def test_close_and_log_off_are_refused_while_the_installer_runs(self):
        server = self.serve(["file"])
        p = self.launch(run_ms=8000)  # time for both refusals on a busy machine
        installer.click("pbInstall")
        self.wait_state("tmrInstall", "1", timeout=30)
        blocked = 0

        def blocked_lines():
            return installer.read_log()[1].count(BLOCKED)

        def refuse(request):
            """Asks to close while a watcher looks at the status line closely: the installer poll
            rewrites it every 500 ms.  Every request is refused with a log line of its own and
            without a question."""
            nonlocal blocked
            for _ in range(3):
                self.assertTrue(installer.wait_until(lambda: self.shown().get("lblInst1") != IN_PROGRESS))
                watcher = wineenv.spawn(installer.QVTOOL, "ask-until", 3, IN_PROGRESS, "controls")
                self.assertTrue(installer.wait_until(lambda: "watching" in watcher.read_stdout(), timeout=10))
                request()
                blocked += 1
                seen = watcher.wait(timeout=10) == 0
                self.assertTrue(installer.wait_until(lambda: blocked_lines() == blocked, timeout=5))
                if seen:
                    break
            else:
                self.fail(f"{IN_PROGRESS!r} never seen")
            self.assertIsNone(installer.message_box())
            self.assertEqual((p.poll(), installer.state()["tmrInstall"]), (None, "1"))

        def log_off():
            r = installer.tool("endsession")
            self.assertEqual((r.returncode, r.stdout.split()), (0, ["answer=0"]))

        refuse(self.alt_f4)
        refuse(log_off)
        self.wait_state("done", "1", timeout=20)
        # Finished: the same requests now go through without a question.
        self.assertEqual(installer.tool("endsession").stdout.split(), ["answer=1"])
        installer.tool("close")
        self.assertEqual(p.wait(timeout=20), 0)
        lines = self.journey_log()
        self.assertEqual(lines, [event("setup_run")] + self.clicked()
                         + self.downloaded(len(server.body()))
                         + self.launching() + self.installed()[:1] + [BLOCKED] * blocked
                         + self.installed()[1:] + [EXIT_LINE])


if __name__ == "__main__":
    unittest.main(verbosity=2)
