"""Names in the user's Temp folder linked to files the user could not write never let the
elevated program write into those files: the setup log, a fresh download and a kept partial
download.  Links are Unix hard links made inside the prefix, which Windows programs under Wine see
as hard links (a second name of the same file)."""
import os
import shutil
import unittest

import installer
import journey
import wineenv

NOTICE = "LOG: the log file was a link to another file; the link was removed and a new log started"


class LinkedFiles(unittest.TestCase):
    def setUp(self):
        self.assertIsNone(installer.window_state(), "an installer from an earlier test still runs")
        installer.reset_log()
        self.target = wineenv.drive_c() / "protected.bin"
        self.target.write_bytes(b"bytes the user could not change\r\n" * 64)
        self.original = self.target.read_bytes()
        self.dest = wineenv.temp_dir() / "quorvel_setup.exe"
        if self.dest.exists():
            self.dest.unlink()
        self.work = wineenv.drive_c() / "linked-work"
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir()
        self.fake = journey.FakeInstaller(self.work / "fake.jsonl", exit_code=0, run_ms=300)

    def tearDown(self):
        p = getattr(self, "process", None)
        if p and p.poll() is None:
            p.kill()
            p.wait()
        self.target.unlink()
        shutil.rmtree(self.work, ignore_errors=True)

    def install(self, script, while_waiting=None):
        with journey.download_server(script) as server:
            self.process = installer.start(extra_env=self.fake.env)
            installer.click("pbInstall")
            if while_waiting:
                self.assertTrue(installer.wait_until(
                    lambda: any(l.startswith("FLOW: auto-retry 1/3") for l in installer.read_log()[1]), timeout=20))
                while_waiting()
            self.assertTrue(installer.wait_until(lambda: installer.state()["done"] == "1", timeout=40))
            installer.click("pbStart")
            self.assertEqual(self.process.wait(timeout=30), 0)
            return server.requests

    def test_a_linked_log_name_is_replaced_and_its_target_kept(self):
        installer.log_path().unlink(missing_ok=True)
        os.link(self.target, installer.log_path())
        installer.close(installer.start())
        self.assertEqual(self.target.read_bytes(), self.original)
        self.assertEqual(os.stat(installer.log_path()).st_nlink, 1)
        bom, lines = installer.read_log()
        self.assertTrue(bom)
        self.assertEqual(lines[0], NOTICE)
        self.assertEqual(lines[1], "======== Quorvel Setup started ========")
        self.assertEqual(lines.count(NOTICE), 1)

    def test_a_fresh_download_never_writes_through_a_linked_name(self):
        os.link(self.target, self.dest)
        self.install(["file"])
        self.assertEqual(self.target.read_bytes(), self.original)
        self.assertIn("FLOW: install SUCCESS", installer.read_log()[1])

    def test_a_linked_partial_file_is_not_resumed(self):
        def plant():
            # The kept bytes are swapped for a link while the retry waits.
            self.dest.unlink()
            os.link(self.target, self.dest)
        requests = self.install(["short:1000", "file"], while_waiting=plant)
        self.assertEqual(self.target.read_bytes(), self.original)
        _, lines = installer.read_log()
        self.assertIn("FLOW: auto-retry 1/3 in 1000 ms (resume from byte 1000)", lines)
        self.assertIn("DL: partial file unusable, restarting from zero", lines)
        self.assertEqual([r[1] for r in requests], [None, None], "a range request was made onto the linked file")


if __name__ == "__main__":
    unittest.main(verbosity=2)
