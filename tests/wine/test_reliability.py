"""Leaving the program at any moment: a download cancelled at random moments through the real
window, and an exit while a cancelled worker is stalled and usage events are still being sent.
Each run must end cleanly: exit code 0, no partial file left (unless a stalled worker still holds
it), the log ending with its exit line and nothing written after it."""
import os
import random
import socket
import threading
import time
import unittest

import installer
import journey
import wineenv

EXIT = "======== Setup exited ========"
ANALYTICS_PORT = int(os.environ.get("QV_TEST_ANALYTICS_PORT", "47445"))


class SilentCollector:
    """Accepts connections on the analytics port and never answers: every event stays in flight."""

    def __enter__(self):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", ANALYTICS_PORT))
        self.sock.listen(16)
        self.sock.settimeout(0.2)
        self.stop, self.held = threading.Event(), []

        def accept():
            while not self.stop.is_set():
                try:
                    self.held.append(self.sock.accept()[0])
                except OSError:
                    continue
        threading.Thread(target=accept, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        for c in self.held:
            c.close()
        self.sock.close()


class Reliability(unittest.TestCase):
    def setUp(self):
        self.assertIsNone(installer.window_state(), "an installer from an earlier test still runs")
        self.dest = wineenv.temp_dir() / "quorvel_setup.exe"

    def confirm_exit(self, p):
        installer.tool("close")
        self.assertTrue(installer.wait_until(lambda: installer.message_box() is not None or p.poll() is not None,
                                             timeout=15), "no exit question")
        if p.poll() is None:
            installer.press(6)

    def assert_clean_end(self, p, run):
        self.assertEqual(p.wait(timeout=30), 0, run)
        size = installer.log_path().stat().st_size
        _, lines = installer.read_log()
        self.assertEqual(lines[-1], EXIT, run)
        self.assertEqual(lines.count(EXIT), 1, run)
        time.sleep(0.3)
        self.assertEqual(installer.log_path().stat().st_size, size, f"{run}: written after the exit line")
        return lines

    def test_cancel_at_random_moments(self):
        rng = random.Random(int(os.environ.get("QV_CANCEL_SEED", "11")))
        runs = int(os.environ.get("QV_CANCEL_RUNS", "50"))
        # About 4 s for the whole file: every cancel falls inside the download.
        with journey.download_server(["slow:100000"], lifetime=900):
            for run in range(runs):
                installer.reset_log()
                p = installer.start()
                try:
                    installer.click("pbInstall")
                    time.sleep(rng.uniform(0.0, 2.5))
                    self.confirm_exit(p)
                    if rng.random() < 0.25:
                        installer.tool("close")  # a second close while "Cancelling..." shows
                    lines = self.assert_clean_end(p, run)
                finally:
                    if p.poll() is None:
                        p.kill()
                        p.wait()
                self.assertIn("UI: user confirmed exit", lines, run)
                self.assertFalse(self.dest.exists(), f"run {run}: a partial file was left")

    def test_exit_with_a_stalled_worker_and_events_in_flight(self):
        installer.reset_log()
        with SilentCollector(), journey.download_server(["stall"], lifetime=120):
            p = installer.start()
            installer.click("pbInstall")
            self.assertTrue(installer.wait_until(
                lambda: any(l.startswith("DL: content length") for l in installer.read_log()[1]), timeout=20))
            self.confirm_exit(p)
            # The worker waits for data that does not come, so it cannot notice the cancel.
            self.assertTrue(installer.wait_until(lambda: installer.state()["closing"] == "1", timeout=10))
            started = time.time()
            installer.tool("close")  # closes at once; the program waits a little for the worker
            lines = self.assert_clean_end(p, "stalled")
            self.assertLess(time.time() - started, 10)
        self.assertIn("UI: download worker still stopping at exit", lines)
        self.assertTrue(any(l.startswith("GA: event install_start") for l in lines))
        # What a worker stalled past the wait leaves: its partial file, removed by the next run.
        print("left in Temp after a stalled exit:", self.dest.exists() and self.dest.stat().st_size)
        if self.dest.exists():
            self.dest.unlink()


if __name__ == "__main__":
    unittest.main(verbosity=2)
