"""Stand-ins for what the setup program meets on a whole install, for tests that follow it from
the Install click to the started application (programs in tests/fixtures):

- the download server at the setup program's fixed address, answering a script (`download_server`);
- the full installer it downloads and runs silently (`FakeInstaller`: choose the exit code and
  run time, read what it was given);
- the application that installer leaves in the folder (`started`: who started it, and how);
- the browser that links open (`UrlRecorder`).

A test passes `FakeInstaller(...).env` to installer.start(extra_env=...): the setup program hands
its environment on to the installer it runs.
"""
import json
import os
import shutil
import tempfile
import time
from pathlib import Path

import installer
import servers
import wineenv

BUILD = Path(os.environ.get("QV_BUILD_DIR", "."))
FIXTURES = BUILD / "tests" / "fixtures"
FAKE_INSTALLER = FIXTURES / "fake_installer.exe"
FAKE_APP = FIXTURES / "fake_app.exe"
URL_RECORDER = FIXTURES / "url_recorder.exe"
SHELL_OPEN = FIXTURES / "shell_open.exe"

DOWNLOAD_PORT = int(os.environ.get("QV_TEST_DOWNLOAD_PORT", "47443"))
DOWNLOAD_PATH = "/quorvel.exe"
DOWNLOAD_URL = f"https://localhost:{DOWNLOAD_PORT}{DOWNLOAD_PATH}"
INSTALLER_SWITCHES = ["/SP-", "/VERYSILENT", "/SUPPRESSMSGBOXES", "/NORESTART"]


def read_jsonl(path):
    """The JSON objects of a file of lines; [] when it does not exist yet."""
    p = Path(path)
    if not p.exists():
        return []
    return [json.loads(line) for line in p.read_text(encoding="utf-8").splitlines() if line.strip()]


# Polls `pred` until it gives a true value or the time is up.
wait_for = installer.wait_until


def download_server(script, port=DOWNLOAD_PORT, body=FAKE_INSTALLER, lifetime=300, **kw):
    """A FaultServer answering `script` (a list of answers, see servers.FaultServer) for the
    download address, serving the fake installer's bytes; use it with `with`.  Any other path
    gets the FaultServer's usual answers."""
    return servers.FaultServer(port=port, script={DOWNLOAD_PATH: script}, bodies={DOWNLOAD_PATH: body},
                               lifetime=lifetime, **kw)


class FakeInstaller:
    """Settings and record of the fake installer's runs.  `record` is a Unix path; the fake
    installer appends a "start" line once it has installed (or failed to) and an "exit" line
    when it ends (fields: tests/fixtures/fake_installer.cpp)."""

    def __init__(self, record, exit_code=0, run_ms=1500):
        self.record = Path(record)
        self.env = {"QV_FAKE_RECORD": wineenv.unix_to_windows(self.record),
                    "QV_FAKE_EXIT_CODE": str(exit_code), "QV_FAKE_RUN_MS": str(run_ms)}

    def lines(self, event=None):
        return [r for r in read_jsonl(self.record) if event is None or r["event"] == event]

    def runs(self):
        """The "start" lines: one per run, with "args", "lang", "dir", "files", "exit", "pid"."""
        return self.lines("start")

    def exits(self):
        return self.lines("exit")

    def running(self):
        """The pids of runs that started and have not ended."""
        return {r["pid"] for r in self.runs()} - {r["pid"] for r in self.exits()}


def started(folder):
    """The starts of the installed application (and of the padded unins000.exe, should anything
    start that) in `folder` (Unix path): "exe", "cmdline", "cwd", "pid", "ms" each."""
    return read_jsonl(Path(folder) / "started.txt")


class UrlRecorder:
    """While in use, http and https URLs that a program opens with ShellExecuteW run a recorder
    instead of the browser; `urls()` lists them in order.  The recorder runs from a folder of
    its own; the previous handler comes back at the end."""

    def __enter__(self):
        self.dir = Path(tempfile.mkdtemp(prefix="qv-urls-"))
        exe = self.dir / "url_recorder.exe"
        shutil.copy(URL_RECORDER, exe)
        self.previous = wineenv.register_url_handler(exe)
        return self

    def __exit__(self, *exc):
        try:
            wineenv.restore_url_handlers(self.previous)
        finally:
            shutil.rmtree(self.dir, ignore_errors=True)

    def records(self):
        return read_jsonl(self.dir / "urls.txt")

    def urls(self):
        return [r["args"][0] if r["args"] else "" for r in self.records()]

    def wait(self, count=1, timeout=10):
        """The URLs once there are at least `count` (the shell starts the handler and returns)."""
        wait_for(lambda: len(self.urls()) >= count, timeout)
        return self.urls()
