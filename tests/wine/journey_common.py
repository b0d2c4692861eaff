"""Shared set-up of the install journeys: the setup program's window driven as a user drives it
(clicks at the controls' places, keys), the scripted download server at its fixed address, the
fake installer, and the setup log reduced to what a journey compares line for line."""
import json
import re
import shutil
import tempfile
import threading
import time
import unittest
from pathlib import Path

import installer
import journey
import servers
import wineenv

DEFAULT_DIR = r"C:\Program Files\Quorvel"
TEMP_NAME = "quorvel_setup.exe"
FOOTER = {"chkAccept", "lblPrivacy", "lblAnd", "lblLicense", "lblSettings"}
EXIT_LINE = "======== Setup exited ========"
UA = "OnlineInstaller/1.0"  # the User-Agent of every download request


class JourneyServer(servers.FaultServer):
    """The download server for the setup program's address, answering `script` with `body`.
    `times` holds the arrival time of every request; clearing `flowing` holds paced ("slow")
    answers between two pieces, so a transfer can be frozen while the test looks at the window."""

    def __init__(self, script, body=journey.FAKE_INSTALLER, **kw):
        super().__init__(port=journey.DOWNLOAD_PORT, script={journey.DOWNLOAD_PATH: script},
                         bodies={journey.DOWNLOAD_PATH: body}, lifetime=300, **kw)
        self.times = []
        self.flowing = threading.Event()
        self.flowing.set()

    def body(self):
        return self.bodies[journey.DOWNLOAD_PATH]

    def stop(self):
        self.flowing.set()
        super().stop()

    def _answer(self, conn, kind, arg, body, rng):
        self.times.append(time.monotonic())
        super()._answer(conn, kind, arg, body, rng)

    def _paced(self, conn, data, piece, pause):
        for i in range(0, len(data or b""), piece):
            self.flowing.wait(60)
            if self._ended():
                return
            conn.sendall(data[i:i + piece])
            time.sleep(pause)


def event(name, reason=""):
    return f'GA: event {name} reason="{reason}"'


class JourneyCase(unittest.TestCase):
    """One setup program per test, started on a clean Temp folder and log; whatever the test
    leaves running is ended at its end (the window by its process, the fake installer by
    waiting for it)."""

    install_dirs = (DEFAULT_DIR,)

    def setUp(self):
        self.assertTrue(installer.wait_until(lambda: installer.window_state() is None, timeout=10),
                        "an installer from an earlier test still runs")
        installer.reset_log()
        self.temp_file = wineenv.temp_dir() / TEMP_NAME
        self.temp_file.unlink(missing_ok=True)
        self.temp_win = wineenv.unix_to_windows(self.temp_file)
        for folder in self.install_dirs:
            self._remove_install(folder)
            self.addCleanup(self._remove_install, folder)
        self.work = Path(tempfile.mkdtemp(prefix="qv-journey-"))
        self.addCleanup(shutil.rmtree, self.work, True)
        self.proc = self.fake = None

    @staticmethod
    def _remove_install(folder):
        shutil.rmtree(wineenv.windows_to_unix(folder), ignore_errors=True)

    # ---- set-up -------------------------------------------------------------------------------

    def serve(self, script, **kw):
        server = JourneyServer(script, **kw)
        server.start()
        self.addCleanup(server.stop)
        return server

    def launch(self, exit_code=0, run_ms=300, env=None):
        """Starts the setup program (the fake installer's settings in its environment) and
        waits for its window."""
        record = self.work / f"record-{len(list(self.work.iterdir()))}.jsonl"
        self.fake = journey.FakeInstaller(record, exit_code=exit_code, run_ms=run_ms)
        self.proc = installer.start(extra_env={**self.fake.env, **(env or {})})
        self.addCleanup(self._end_installer, self.proc, self.fake)
        return self.proc

    @staticmethod
    def _end_installer(p, fake):
        if p.poll() is None:
            p.kill()
            p.wait(10)
        # An installer it was waiting on ends by itself: it runs for run_ms.
        journey.wait_for(lambda: not fake.running(), timeout=15)

    # ---- what the user sees ----------------------------------------------------------------------

    @staticmethod
    def shown():
        """The controls that show, by name, with their texts."""
        return {name: c["text"] for name, c in installer.controls().items() if c["showing"]}

    def wait_state(self, key, value, timeout=20):
        ok = installer.wait_until(lambda: installer.state()[key] == value, timeout=timeout, step=0.05)
        self.assertTrue(ok, f"{key} never became {value}: {installer.state()}")

    def wait_box(self, caption="Quorvel", timeout=15):
        """The open message box with that caption (dict of installer.message_box)."""
        box = installer.wait_until(lambda: (lambda b: b if b and b["caption"] == caption else None)(
            installer.message_box()), timeout=timeout)
        self.assertIsNotNone(box, f"no message box {caption!r}; open: {installer.message_box()}")
        return box

    def answer_box(self, text, buttons, press, caption="Quorvel"):
        """Checks the open box's text and buttons and ends it with the button id `press`."""
        box = self.wait_box(caption)
        self.assertEqual((box["text"], sorted(box["buttons"])), (text, buttons))
        self.assertTrue(installer.press(press))
        self.assertTrue(installer.wait_until(lambda: installer.message_box() is None, timeout=10),
                        "the box stayed open")

    def assertFailedView(self, detail, offline):
        """The main view after a failure: status, the failure text, Retry, the offline link only
        when the download gave up, no footer, settings unlocked."""
        shown = self.shown()
        self.assertNotIn("pnlInstallView", shown)
        self.assertEqual((shown.get("lblStatus"), shown.get("lblDetail"), shown.get("pbInstall")),
                         ("Installation failed.", detail, "Retry"))
        self.assertEqual(shown.get("lblOffline"), "Download the offline installer" if offline else None)
        self.assertEqual(FOOTER & shown.keys(), set())
        st = installer.state()
        self.assertEqual({k: st[k] for k in ("installCaption", "installEnabled", "downloading", "tmrInstall",
                                             "retryTimer", "activityHeld", "done")},
                         {"installCaption": "Retry", "installEnabled": "1", "downloading": "0", "tmrInstall": "0",
                          "retryTimer": "0", "activityHeld": "0", "done": "0"})
        self.assertEqual({n: c["enabled"] for n, c in installer.controls().items()
                          if n in ("edtLocation", "btnBrowse", "cbLanguage")},
                         {"edtLocation": True, "btnBrowse": True, "cbLanguage": True})

    # ---- the log -------------------------------------------------------------------------------

    def journey_log(self):
        """The log from the line after "UI: ready" on, without the analytics results (they come
        from threads of their own, at any point) and with each event line reduced to its name
        and reason once its payload is seen to carry them."""
        _, lines = installer.read_log()
        ready = [i for i, l in enumerate(lines) if l.startswith("UI: ready")]
        self.assertEqual(len(ready), 1, lines)
        out = []
        for line in lines[ready[0] + 1:]:
            m = re.match(r'^GA: event (\S+) reason="([^"]*)" payload=(.*)$', line)
            if m:
                (sent,) = json.loads(m.group(3))["events"]
                self.assertEqual((sent["name"], sent["params"].get("reason", "")), m.group(1, 2), line)
                out.append(event(*m.group(1, 2)))
            elif not line.startswith("GA: "):
                out.append(line)
        return out

    def get_lines(self):
        return [f"DL: GET {journey.DOWNLOAD_URL} -> {self.temp_win}"]

    def clicked(self, folder=DEFAULT_DIR, lang="english"):
        return [f'FLOW: Install clicked, dir="{folder}", lang={lang}', event("install_start")]

    def downloaded(self, size):
        return self.get_lines() + [f"DL: content length {size} bytes (+ 0 already on disk)",
                                   f"DL: HTTP 200 OK, received {size} bytes total", "FLOW: download complete"]

    def launching(self, folder=DEFAULT_DIR, lang="english"):
        switches = " ".join(journey.INSTALLER_SWITCHES)
        return [f'FLOW: launching installer: "{self.temp_win}" {switches} /LANG={lang} /DIR="{folder}"']

    def installed(self, exit_code=0):
        """The lines of one installer run, its pid from the fake installer's record."""
        (run,) = self.fake.runs()
        lines = [f"FLOW: installer running, pid={run['pid']}, waiting...",
                 f"FLOW: installer exited, code={exit_code}, temp file deleted"]
        return lines + (["FLOW: install SUCCESS", event("install_success")] if exit_code == 0 else [])
