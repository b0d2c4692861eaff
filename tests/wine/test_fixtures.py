"""The stand-ins of the install tests on their own: the fake installer started the way the setup
program starts it, the installed application started through explorer.exe, links reaching the
URL recorder, and the scripted download server."""
import http.client
import shutil
import ssl
import time
import unittest
from unittest import mock

import journey
import servers
import wineenv

SWITCHES = " ".join(journey.INSTALLER_SWITCHES)


def shell(*args, **kw):
    r = wineenv.run(journey.SHELL_OPEN, *args, **kw)
    return r.returncode, dict(kv.split("=", 1) for kv in r.stdout.split())


class FakeInstallerAndApp(unittest.TestCase):
    def setUp(self):
        self.root = wineenv.drive_c() / "qv fixtures"
        shutil.rmtree(self.root, ignore_errors=True)
        self.root.mkdir()
        self.addCleanup(shutil.rmtree, self.root, True)

    def run_installer(self, params, **settings):
        """Runs the fake installer through ShellExecuteExW (hidden, waited for), as the setup program
        does, with the settings in the environment that the probe passes on."""
        fake = journey.FakeInstaller(self.root / "record.jsonl", **settings)
        rc, out = shell("run", wineenv.unix_to_windows(journey.FAKE_INSTALLER), params, extra_env=fake.env)
        self.assertEqual(rc, 0, out)
        return fake, out

    def test_installs_the_app_into_the_folder_it_was_given(self):
        app = journey.FAKE_APP.read_bytes()
        # A folder whose parents do not exist, with a space and a non-ASCII letter; a folder that
        # ends in a backslash, which a quote-escaping parser would run into the next switch.
        for lang, folder in (("german", r"C:\qv fixtures\Neu Ü\Quorvel"), ("english", "C:\\qv fixtures\\trail\\")):
            with self.subTest(folder=folder):
                params = f'{SWITCHES} /LANG={lang} /DIR="{folder}"'
                t0 = time.time() * 1000
                fake, out = self.run_installer(params, run_ms=800)
                self.assertEqual(out["exit"], "0")
                (run,) = fake.runs()
                (end,) = fake.exits()
                self.assertEqual(run["args"], journey.INSTALLER_SWITCHES + [f"/LANG={lang}", f"/DIR={folder}"])
                self.assertTrue(run["cmdline"].endswith(" " + params), run["cmdline"])
                self.assertEqual((run["lang"], run["dir"], run["error"]), (lang, folder, None))
                self.assertEqual(run["files"], ["Quorvel.exe", "unins000.exe"])
                self.assertEqual(str(run["pid"]), out["pid"])
                self.assertEqual(end["pid"], run["pid"])
                self.assertGreaterEqual(end["ms"] - run["ms"], 800)
                self.assertGreaterEqual(run["ms"], t0 - 1000, "clock of the record is not the test's")
                installed = wineenv.windows_to_unix(folder)
                self.assertEqual((installed / "Quorvel.exe").read_bytes(), app)
                self.assertGreater((installed / "unins000.exe").stat().st_size, len(app))
                self.assertEqual(sorted(p.name for p in installed.iterdir()), ["Quorvel.exe", "unins000.exe"])
                fake.record.unlink()

    def test_exit_code_is_the_tests_and_a_failed_run_installs_nothing(self):
        for code in (5, 0xC0000005):  # an ordinary failure, and one that looks like a crash
            with self.subTest(code=code):
                fake, out = self.run_installer(f'{SWITCHES} /LANG=english /DIR="C:\\qv fixtures\\failed"',
                                               exit_code=code, run_ms=0)
                self.assertEqual(out["exit"], str(code))
                self.assertEqual([(r["exit"], r["files"]) for r in fake.runs()], [(code, [])])
                self.assertFalse((self.root / "failed").exists())
                fake.record.unlink()

    def test_installed_app_records_starts_through_explorer(self):
        folder = r"C:\qv fixtures\Quorvel"
        self.run_installer(f'{SWITCHES} /LANG=english /DIR="{folder}"', run_ms=0)
        installed = wineenv.windows_to_unix(folder)
        for name in ("Quorvel.exe", "unins000.exe"):
            rc, out = shell("explorer", f"{folder}\\{name}")
            self.assertEqual(rc, 0, out)
        starts = journey.wait_for(lambda: len(journey.started(installed)) >= 2 and journey.started(installed))
        # The padded uninstaller runs as well, and its line names it: a wrong pick shows.
        self.assertEqual(sorted(s["exe"] for s in starts), [f"{folder}\\Quorvel.exe", f"{folder}\\unins000.exe"])
        self.assertEqual(len({s["pid"] for s in starts}), 2)


class UrlHandler(unittest.TestCase):
    def test_shell_open_of_a_web_address_reaches_the_recorder(self):
        before = {s: wineenv.url_handler(s) for s in ("http", "https")}
        urls = [journey.DOWNLOAD_URL, "http://localhost:47444/privacy?lang=de"]
        with journey.UrlRecorder() as rec:
            for url in urls:
                rc, out = shell("url", url)
                self.assertEqual(rc, 0, out)
            self.assertEqual(rec.wait(len(urls)), urls)
            self.assertTrue(all(r["exe"].endswith("\\url_recorder.exe") for r in rec.records()))
        self.assertEqual({s: wineenv.url_handler(s) for s in ("http", "https")}, before)


class ScriptedServer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.ctx = ssl.create_default_context(cafile=str(wineenv.tls_dir() / "ca.pem"))

    def get(self, port, path, rng=None):
        c = http.client.HTTPSConnection("localhost", port, context=self.ctx, timeout=30)
        c.request("GET", path, headers={"User-Agent": "fixture-test", **({"Range": rng} if rng else {})})
        r = c.getresponse()
        try:
            body = r.read()
        except http.client.IncompleteRead as e:
            body = e.partial
        c.close()
        return r.status, dict((k.lower(), v) for k, v in r.getheaders()), body

    def test_answers_follow_the_script_on_the_given_port(self):
        body = journey.FAKE_INSTALLER.read_bytes()
        n = len(body)
        port = wineenv.free_port()
        script = ["status:503", "short:1000", "nolength", "slow:200000", "file"]
        with journey.download_server(script, port=port, lifetime=60) as server:
            self.assertEqual(server.port, port)
            with self.assertRaises(RuntimeError):  # the port is taken: no silent second server
                servers.FaultServer(port=port).start()
            st, h, b = self.get(port, "/quorvel.exe")
            self.assertEqual((st, b), (503, b"status 503\n"))
            st, h, b = self.get(port, "/quorvel.exe")
            self.assertEqual((st, h["content-length"], b), (200, str(n), body[:1000]))
            st, h, b = self.get(port, "/quorvel.exe", "bytes=1000-")
            self.assertEqual((st, h["content-range"], "content-length" in h, b),
                             (206, f"bytes 1000-{n - 1}/{n}", False, body[1000:]))
            t0 = time.time()
            st, h, b = self.get(port, "/quorvel.exe", f"bytes={n - 100000}-")
            self.assertEqual((st, b), (206, body[-100000:]))
            self.assertGreater(time.time() - t0, 0.4, "100 kB at 200 kB/s came too fast")
            for _ in range(2):  # the last answer repeats
                self.assertEqual(self.get(port, "/quorvel.exe"), (200, mock.ANY, body))
            st, h, b = self.get(port, "/quorvel.exe", f"bytes={n}-")
            self.assertEqual((st, h["content-range"]), (416, f"bytes */{n}"))
            st, _, b = self.get(port, "/file/300")  # unscripted paths keep their meaning
            self.assertEqual((st, b), (200, servers.payload(300)))
            self.assertEqual([a for _, a in server.answers], script + ["file"] * 2)
            self.assertEqual(server.requests[:3], [("/quorvel.exe", None, "fixture-test"),
                                                   ("/quorvel.exe", None, "fixture-test"),
                                                   ("/quorvel.exe", "bytes=1000-", "fixture-test")])
        # Stopped: the same port is free again at once, for the next test's server.
        with servers.FaultServer(port=port, script={"/x": ["status:404"]}, lifetime=10):
            self.assertEqual(self.get(port, "/x")[0], 404)

    def test_a_typo_in_the_script_fails_at_once(self):
        for answer in ("fiel", "status:abc", "status:999", "slow:fast"):
            with self.subTest(answer=answer), self.assertRaises(ValueError):
                servers.FaultServer(script={"/quorvel.exe": [answer]})


if __name__ == "__main__":
    unittest.main(verbosity=2)
