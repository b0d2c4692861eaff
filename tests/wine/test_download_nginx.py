"""The real download worker (WinHTTP under Wine, HTTPS) against Debian's nginx."""
import shutil
import tempfile
import unittest
from pathlib import Path

import servers
from download_common import ProbeCase

SIZE = 3 * 1024 * 1024 + 12345
OFFSET = 1024 * 1024


class DownloadFromNginx(ProbeCase):
    @classmethod
    def setUpClass(cls):
        cls.root = Path(tempfile.mkdtemp(prefix="qv-www-"))
        cls.body = servers.payload(SIZE)
        (cls.root / "quorvel.exe").write_bytes(cls.body)
        cls.nginx = servers.Nginx(cls.root, lifetime=170)
        cls.nginx.start()

    @classmethod
    def tearDownClass(cls):
        cls.nginx.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def last_request(self):
        return self.nginx.access_log()[-1]

    def test_fresh_download_with_length(self):
        url = self.nginx.url("/slow/quorvel.exe")
        run = self.probe(url, prefill=b"old partial bytes")
        self.assertOutcome(run, True, "", "", 200, 0)
        self.assertEqual(run.file_bytes(), self.body)
        self.assertProgress(run, 0, SIZE, SIZE)
        self.assertGreater(len(run.progress), 5)  # about 1.5 s at the limited rate
        self.assertEqual(run.log[0][:len("DL: GET " + url + " -> ")], "DL: GET " + url + " -> ")
        self.assertEqual(run.log, [run.log[0], f"DL: content length {SIZE} bytes (+ 0 already on disk)",
                                   f"DL: HTTP 200 OK, received {SIZE} bytes total"])
        self.assertIn('"-" "OnlineInstaller/1.0" 200', self.last_request())

    def test_resume_answered_206_cuts_a_longer_file(self):
        url = self.nginx.url("/slow/quorvel.exe")
        # The kept bytes plus garbage beyond the offset, which must be cut off first.
        run = self.probe(url, resume=OFFSET, prefill=self.body[:OFFSET] + b"\0garbage" * 100)
        self.assertOutcome(run, True, "", "", 206, 0)
        self.assertEqual(run.file_bytes(), self.body)
        self.assertProgress(run, OFFSET, SIZE, SIZE)
        self.assertTrue(run.log[0].startswith("DL: RESUME " + url + " -> "))
        self.assertTrue(run.log[0].endswith(f" from byte {OFFSET}"))
        self.assertEqual(run.log[1:], [f"DL: content length {SIZE - OFFSET} bytes (+ {OFFSET} already on disk)",
                                       f"DL: HTTP 206 Partial Content, received {SIZE} bytes total"])
        self.assertIn(f'"bytes={OFFSET}-" "OnlineInstaller/1.0" 206', self.last_request())

    def test_resume_with_a_shorter_file_restarts_from_zero(self):
        run = self.probe(self.nginx.url("/quorvel.exe"), resume=OFFSET, prefill=self.body[:1000])
        self.assertOutcome(run, True, "", "", 200, 0)
        self.assertEqual(run.file_bytes(), self.body)
        self.assertEqual(run.log[0], "DL: partial file unusable, restarting from zero")
        self.assertTrue(run.log[1].startswith("DL: GET "))
        self.assertEqual(run.progress[0]["read"], 0)
        self.assertIn('"-" "OnlineInstaller/1.0" 200', self.last_request())

    def test_resume_of_a_complete_file_gets_416(self):
        run = self.probe(self.nginx.url("/quorvel.exe"), resume=SIZE, prefill=self.body)
        self.assertOutcome(run, False, "Server returned HTTP 416 Requested Range Not Satisfiable", "", 416, 0)
        self.assertIsNone(run.file_bytes())
        self.assertEqual(run.progress, [])
        self.assertIn("DL: HTTP 416 Requested Range Not Satisfiable, received 0 bytes total", run.log)

    def test_chunked_response_without_length(self):
        run = self.probe(self.nginx.url("/chunked/quorvel.exe"))
        self.assertOutcome(run, True, "", "", 200, 0)
        self.assertEqual(run.file_bytes(), self.body)
        self.assertGreater(len(run.progress), 5)
        self.assertEqual(run.progress[0]["read"], 0)
        self.assertTrue(all(e["total"] == 0 for e in run.progress))
        for a, b in zip(run.progress, run.progress[1:]):
            self.assertGreaterEqual(b["ms"] - a["ms"], 95)
        self.assertFalse(any("content length" in line for line in run.log), run.log)
        self.assertEqual(run.log[-1], f"DL: HTTP 200 OK, received {SIZE} bytes total")


if __name__ == "__main__":
    unittest.main(verbosity=2)
