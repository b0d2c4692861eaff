"""The real download worker under Wine against a server that stops sending in the middle of a
body for longer than the 30-second wait: the read times out, the attempt fails with the fresh
file deleted, and nothing waits much longer than the time-out."""
import time
import unittest

import servers
from download_common import ProbeCase


class DownloadStall(ProbeCase):
    def test_stall_longer_than_the_wait(self):
        size = 400_000
        with servers.FaultServer(lifetime=150, stall=60) as server:
            started = time.monotonic()
            run = self.probe(server.url(f"/stall/{size}"), timeout=120)
            elapsed = time.monotonic() - started
        c = run.complete
        self.assertOutcome(run, False, c["msg"], "enethttpresponseexception", 0, 0)
        # Windows reports 12002, Wine the socket's 10060.
        self.assertRegex(c["msg"], r"^Error reading data: \((12002|10060)\) \S")
        self.assertIsNone(run.file_bytes())
        self.assertGreaterEqual(elapsed, 29)
        self.assertLess(elapsed, 50)
        self.assertEqual(run.log[-1], f"DL: exception ENetHTTPResponseException: {c['msg']} "
                                      f"(cancelled=False, {size // 4} bytes read)")
        print(f"stall: {c['msg']} after {elapsed:.1f} s")


if __name__ == "__main__":
    unittest.main(verbosity=2)
