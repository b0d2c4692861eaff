"""Running the download worker's probe program under Wine and reading what it saw."""
import json
import os
import re
import shutil
import tempfile
import unittest
from pathlib import Path

import wineenv

PROBE = Path(os.environ.get("QV_BUILD_DIR", "build/win64")) / "tests" / "wine" / "download_probe.exe"
LOG_LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d.\d\d.\d\d\.\d{3}  (.*)$")


class ProbeRun:
    def __init__(self, returncode, events, log, dest):
        self.returncode = returncode
        self.events = events
        self.log = log  # messages of the "DL:" lines
        self.dest = dest
        self.progress = [e for e in events if e["ev"] == "progress"]
        done = [e for e in events if e["ev"] == "complete"]
        self.complete = done[0] if len(done) == 1 else None
        self.completions = len(done)

    def file_bytes(self):
        return self.dest.read_bytes() if self.dest.exists() else None

    def __repr__(self):
        return f"rc={self.returncode} complete={self.complete} log={self.log} progress={len(self.progress)}"


class ProbeCase(unittest.TestCase):
    """A test case with a scratch folder; `probe` runs one download into it."""

    def setUp(self):
        self.work = Path(tempfile.mkdtemp(prefix="qv-dl-"))

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def probe(self, url, resume=0, dest_name="quorvel_setup.exe", dest=None, prefill=None, args=(),
              timeout=120, isolated_network=False):
        out = self.work / "events.jsonl"
        logf = self.work / "setup.log"
        for p in (out, logf):
            if p.exists():
                p.unlink()
        dest_path = self.work / dest_name
        if prefill is not None:
            dest_path.write_bytes(prefill)
        elif dest is None and dest_path.exists():
            dest_path.unlink()
        win_dest = dest or wineenv.unix_to_windows(dest_path)
        r = wineenv.run(PROBE, url, win_dest, str(resume), wineenv.unix_to_windows(out),
                        wineenv.unix_to_windows(logf), *args, timeout=timeout,
                        isolated_network=isolated_network)
        events = [json.loads(line) for line in out.read_text().splitlines()] if out.exists() else []
        log = []
        if logf.exists():
            for line in logf.read_bytes().decode("utf-8-sig").split("\r\n"):
                m = LOG_LINE.match(line)
                if m and m.group(1).startswith("DL: "):
                    log.append(m.group(1))
        return ProbeRun(r.returncode, events, log, dest_path)

    # ---- shared checks ---------------------------------------------------------------------

    def assertOutcome(self, run, success, msg, kind, status, bytes_on_disk):
        self.assertEqual(run.returncode, 0, run)
        self.assertEqual(run.completions, 1, run)
        c = run.complete
        self.assertEqual((c["success"], c["msg"], c["kind"], c["status"], c["bytesOnDisk"]),
                         (success, msg, kind, status, bytes_on_disk), run)

    def assertProgress(self, run, first, last, total):
        """First report at the offset, last at the end, 100 ms apart but for the completing one."""
        p = run.progress
        self.assertGreaterEqual(len(p), 2, run)
        self.assertEqual(p[0]["read"], first)
        self.assertEqual(p[-1]["read"], last)
        for e in p:
            self.assertEqual(e["total"], total)
        reads = [e["read"] for e in p]
        self.assertEqual(reads, sorted(reads))
        # Times are taken in the handler, a little after the worker read its tick count, so a
        # few milliseconds of slack are allowed.
        for a, b in zip(p[:-2], p[1:-1]):
            self.assertGreaterEqual(b["ms"] - a["ms"], 95, f"reports too close: {a} {b}")

    def assertLogHas(self, run, *lines):
        for line in lines:
            self.assertIn(line, run.log)
