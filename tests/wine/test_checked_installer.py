"""The program runs exactly the bytes the server sent: the complete file is checked against the
digest of what arrived, on a handle that keeps every other program from changing it until the
installer has ended."""
import shutil
import unittest

import installer
import journey
import wineenv

SHARING_VIOLATION, ACCESS_DENIED = 32, 5


class CheckedInstaller(unittest.TestCase):
    def setUp(self):
        self.assertIsNone(installer.window_state(), "an installer from an earlier test still runs")
        installer.reset_log()
        self.dest = wineenv.temp_dir() / "quorvel_setup.exe"
        self.work = wineenv.drive_c() / "checked-work"
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir()

    def tearDown(self):
        p = getattr(self, "process", None)
        if p and p.poll() is None:
            p.kill()
            p.wait()
        shutil.rmtree(self.work, ignore_errors=True)

    def log_has(self, prefix):
        return any(l.startswith(prefix) for l in installer.read_log()[1])

    def test_nobody_can_change_the_installer_while_it_runs(self):
        fake = journey.FakeInstaller(self.work / "fake.jsonl", exit_code=0, run_ms=5000)
        with journey.download_server(["file"]):
            self.process = installer.start(extra_env=fake.env)
            installer.click("pbInstall")
            self.assertTrue(installer.wait_until(lambda: fake.running(), timeout=30))
            r = installer.tool("tamper", wineenv.unix_to_windows(self.dest))
            errors = dict(kv.split("=") for kv in r.stdout.split())
            for what in ("write", "rename", "delete"):
                self.assertIn(int(errors[what]), (SHARING_VIOLATION, ACCESS_DENIED), f"{what} was not refused: {r.stdout}")
            self.assertTrue(installer.wait_until(lambda: installer.state()["done"] == "1", timeout=30))
            self.assertFalse(self.dest.exists(), "the installer's file was not deleted after it ran")
            installer.click("pbStart")
            self.assertEqual(self.process.wait(timeout=30), 0)

    def test_a_file_changed_before_the_check_is_never_started(self):
        fake = journey.FakeInstaller(self.work / "fake.jsonl", exit_code=0, run_ms=300)
        env = dict(fake.env, QV_TEST_PAUSE_BEFORE_CHECK_MS="3000")
        with journey.download_server(["file"]) as server:
            self.process = installer.start(extra_env=env)
            installer.click("pbInstall")
            # The transfer is over; the file waits for its check: another program rewrites it.
            self.assertTrue(installer.wait_until(lambda: self.log_has("DL: HTTP 200 OK, received"), timeout=30))
            self.dest.write_bytes(b"MZ" + b"\0" * 4094)
            self.assertTrue(installer.wait_until(lambda: installer.state()["done"] == "1", timeout=60))
            installer.click("pbStart")
            self.assertEqual(self.process.wait(timeout=30), 0)
            requests = server.requests
        _, lines = installer.read_log()
        self.assertIn("DL: file changed before it could be checked, deleted", lines)
        self.assertIn("FLOW: download FAILED (HTTP 200): The downloaded file was changed before it could be checked.",
                      lines)
        self.assertTrue(any(l.startswith('GA: event install_retry reason="download_error_changed"') for l in lines))
        self.assertIn("FLOW: auto-retry 1/3 in 1000 ms (resume from byte 0)", lines)
        self.assertEqual(len(requests), 2)
        # Only the file downloaded again, checked, ran.
        self.assertEqual(len(fake.runs()), 1)
        self.assertEqual(lines.count("FLOW: download complete"), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
