"""The real download worker under Wine against answers that go wrong: status codes, short and
broken bodies, redirects, network failures, local file failures, cancellation, a vanished
window and an untrusted certificate."""
import http
import re
import socket
import subprocess
import threading
import time
import unittest

import servers
import wineenv
from download_common import PROBE, ProbeCase

BODY = servers.payload


def phrase(code):
    return http.HTTPStatus(code).phrase


class DownloadFaults(ProbeCase):
    @classmethod
    def setUpClass(cls):
        cls.server = servers.FaultServer(lifetime=230)
        cls.server.start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def requests_since(self, mark):
        return self.server.requests[mark:]

    # ---- answers outside 2xx ---------------------------------------------------------------

    def test_http_error_statuses_delete_the_file(self):
        cases = [("/status/404", 0, 404), ("/status/503", 0, 503), ("/file/1000", 2000, 416)]
        for path, resume, code in cases:
            with self.subTest(path=path):
                run = self.probe(self.server.url(path), resume=resume,
                                 prefill=BODY(1000) * 2 if resume else None)
                self.assertOutcome(run, False, f"Server returned HTTP {code} {phrase(code)}", "", code, 0)
                self.assertIsNone(run.file_bytes())
                self.assertEqual(run.progress, [])
                self.assertIn(f"DL: HTTP {code} {phrase(code)}, received 0 bytes total", run.log)

    def test_whole_file_sent_to_a_range_request(self):
        mark = len(self.server.requests)
        run = self.probe(self.server.url("/ignore-range/5000"), resume=1000, prefill=BODY(5000)[:1000])
        self.assertOutcome(run, False, "Server ignored the resume request.", "resume_ignored", 200, 0)
        self.assertIsNone(run.file_bytes())
        self.assertEqual(self.requests_since(mark), [("/ignore-range/5000", "bytes=1000-", "OnlineInstaller/1.0")])
        self.assertIn("DL: HTTP 200 OK, received 6000 bytes total", run.log)

    # ---- bodies that end early -------------------------------------------------------------

    def test_body_short_of_its_length_is_kept_for_resume(self):
        run = self.probe(self.server.url("/short/5000"))
        self.assertOutcome(run, False, "Connection closed before the download completed.", "incomplete", 200, 4990)
        self.assertEqual(run.file_bytes(), BODY(5000)[:4990])
        self.assertEqual(run.log[-1], "DL: body incomplete (4990 of 5000 bytes), keeping partial for resume")

    def test_connection_reset_mid_body(self):
        # A reset may end the read without an error (a short body: "incomplete") or raise one
        # (Windows always; Wine 8 for a TCP RST).  Each is checked for its own outcome.
        size = 400_000
        for resume in (0, 100_000):
            with self.subTest(resume=resume):
                run = self.probe(self.server.url(f"/reset/{size}"), resume=resume,
                                 prefill=BODY(size)[:resume] if resume else None)
                c = run.complete
                self.assertIsNotNone(c, run)
                self.assertFalse(c["success"])
                sent = resume + (size - resume) // 2
                if c["kind"] == "incomplete":  # Wine
                    self.assertOutcome(run, False, "Connection closed before the download completed.",
                                       "incomplete", 206 if resume else 200, sent)
                    self.assertEqual(run.file_bytes(), BODY(size)[:sent])
                    print(f"reset, resume={resume}: short body without error (Wine)")
                else:  # Windows
                    self.assertIn(c["kind"], ("enethttpresponseexception", "enethttpclientexception"))
                    self.assertEqual((c["status"], c["bytesOnDisk"]), (0, resume))
                    if resume:
                        self.assertEqual(run.file_bytes()[:resume], BODY(size)[:resume])
                        self.assertEqual(run.log[-1], f"DL: keeping {resume}-byte partial for resume")
                    else:
                        self.assertIsNone(run.file_bytes())
                    print(f"reset, resume={resume}: error {c['msg']}")

    # ---- redirects -------------------------------------------------------------------------

    def test_body_without_a_length(self):
        # Ended by the server's orderly close: nothing on the wire tells a cut from the end, so it
        # counts as complete.  Ended by a reset: an error, never a success.
        run = self.probe(self.server.url("/nolength/100000"))
        self.assertOutcome(run, True, "", "", 200, 0)
        self.assertEqual(run.file_bytes(), BODY(100000))
        run = self.probe(self.server.url("/nolength-reset/100000"))
        c = run.complete
        self.assertFalse(c["success"], run)
        self.assertTrue(c["msg"].startswith("Error reading data: "), run)
        self.assertIsNone(run.file_bytes())  # a transport error in a fresh download keeps nothing

    def test_redirects(self):
        mark = len(self.server.requests)
        run = self.probe(self.server.url("/redirect/6"))
        self.assertOutcome(run, False, "Maximum number of redirections (5) exceeded",
                           "enethttprequestexception", 0, 0)
        self.assertIsNone(run.file_bytes())
        self.assertEqual([r[0] for r in self.requests_since(mark)],
                         ["/redirect/6", "/redirect/5", "/redirect/4", "/redirect/3", "/redirect/2", "/redirect/1"])

        mark = len(self.server.requests)
        run = self.probe(self.server.url("/redirect/2"), resume=300, prefill=BODY(1000)[:300])
        self.assertOutcome(run, True, "", "", 206, 0)
        self.assertEqual(run.file_bytes(), BODY(1000))
        self.assertEqual(self.requests_since(mark), [
            (p, "bytes=300-", "OnlineInstaller/1.0") for p in ("/redirect/2", "/redirect/1", "/redirect/0")])
        self.assertProgress(run, 300, 1000, 1000)

    # ---- failures before any response ------------------------------------------------------

    def test_network_failures(self):
        # The lookup of the unknown host runs without any network, so no query leaves the machine.
        cases = [
            ("refused port", f"https://localhost:{wineenv.free_port()}/quorvel.exe", 12029, False),
            ("host that does not resolve", "https://qv-no-such-host.invalid/quorvel.exe", 12007, True),
        ]
        for name, url, code, isolated in cases:
            for resume in (0, 700):
                with self.subTest(name=name, resume=resume):
                    run = self.probe(url, resume=resume, prefill=BODY(1000) if resume else None,
                                     isolated_network=isolated)
                    c = run.complete
                    self.assertOutcome(run, False, c["msg"], "enethttpclientexception", 0, resume)
                    self.assertRegex(c["msg"], rf"^Error sending data: \({code}\) \S")
                    self.assertEqual(run.log[-2 if resume else -1],
                                     f"DL: exception ENetHTTPClientException: {c['msg']} (cancelled=False, 0 bytes read)")
                    if resume:
                        self.assertEqual(run.file_bytes(), BODY(1000)[:700])  # cut, handed back
                        self.assertEqual(run.log[-1], "DL: keeping 700-byte partial for resume")
                    else:
                        self.assertIsNone(run.file_bytes())

    def test_destination_folder_that_cannot_be_written(self):
        mark = len(self.server.requests)
        dest = wineenv.unix_to_windows(self.work) + "\\no-such-folder\\quorvel_setup.exe"
        run = self.probe(self.server.url("/file/1000"), dest=dest)
        c = run.complete
        self.assertOutcome(run, False, c["msg"], "efcreateerror", 0, 0)
        self.assertRegex(c["msg"], "^" + re.escape(f'Cannot create file "{dest}". ') + r"\S")
        self.assertEqual(self.requests_since(mark), [])
        self.assertIn(f"DL: exception EFCreateError: {c['msg']} (cancelled=False, 0 bytes read)", run.log)

    def test_partial_file_held_by_another_program(self):
        dest = self.work / "quorvel_setup.exe"
        dest.write_bytes(BODY(1000))
        # The attempt that kept these bytes handed on their digest; the probe takes it from a copy.
        copy = self.work / "kept.bin"
        copy.write_bytes(BODY(1000))
        holder = wineenv.spawn(PROBE.parent / "qvtool.exe", "hold",
                               wineenv.unix_to_windows(dest), "20")
        try:
            end = time.time() + 15
            while "holding" not in holder.read_stdout() and time.time() < end:
                time.sleep(0.05)
            mark = len(self.server.requests)
            run = self.probe(self.server.url("/file/1000"), resume=600, dest=wineenv.unix_to_windows(dest),
                             args=("--kept-from", wineenv.unix_to_windows(copy)))
            c = run.complete
            self.assertOutcome(run, False, c["msg"], "efopenerror", 0, 600)
            self.assertTrue(c["msg"].startswith(f'Cannot open file "{wineenv.unix_to_windows(dest)}". '), c)
            self.assertEqual(self.requests_since(mark), [])
            self.assertEqual(run.log[-1], "DL: keeping 600-byte partial for resume")
        finally:
            holder.kill()
            holder.wait()
        self.assertEqual(dest.read_bytes(), BODY(1000))  # untouched

    # ---- the owner -------------------------------------------------------------------------

    def test_cancel_mid_transfer(self):
        size = 3_000_000
        run = self.probe(self.server.url(f"/slow/{size}"), args=("--cancel-at", "200000"))
        self.assertOutcome(run, False, "Download cancelled.", "", 200, 0)
        self.assertIsNone(run.file_bytes())
        m = re.fullmatch(r"DL: cancelled by user after (\d+) bytes, partial file deleted", run.log[-1])
        self.assertIsNotNone(m, run.log)
        self.assertGreaterEqual(int(m.group(1)), 200_000)
        self.assertLess(int(m.group(1)), size)
        self.assertEqual(int(m.group(1)), run.progress[-1]["read"])

    def test_window_gone_mid_transfer(self):
        run = self.probe(self.server.url("/slow/3000000"), args=("--drop-ui-at", "100000"))
        self.assertEqual(run.returncode, 0, run)
        self.assertEqual(run.completions, 0)
        self.assertIn("file_removed", [e["ev"] for e in run.events], run.events)
        self.assertIsNone(run.file_bytes())
        self.assertIn("DL: owner no longer reachable, stopping the transfer", run.log)
        self.assertRegex(run.log[-1], r"^DL: cancelled by user after \d+ bytes, partial file deleted$")

    # ---- HTTPS trust -----------------------------------------------------------------------

    def certificate(self, name, issued_by_test_ca=True, host="localhost", dates=None):
        """A key and certificate for `host`: self-signed, or from the CA the prefix trusts; with
        `dates` (start, end as YYYYMMDDhhmmssZ) valid only then."""
        key, cert = self.work / f"{name}.key", self.work / f"{name}.pem"
        ossl = lambda *a: subprocess.run(["openssl", *a], check=True, capture_output=True, cwd=self.work)
        if not issued_by_test_ca:
            ossl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", f"/CN={host}",
                 "-addext", f"subjectAltName=DNS:{host}", "-keyout", str(key), "-out", str(cert))
            return key, cert
        ca = wineenv.tls_dir()
        ossl("req", "-newkey", "rsa:2048", "-nodes", "-subj", f"/CN={host}", "-keyout", str(key),
             "-out", f"{name}.csr")
        (self.work / "ext.cnf").write_text(f"subjectAltName=DNS:{host}\nextendedKeyUsage=serverAuth\n")
        if dates is None:
            ossl("x509", "-req", "-in", f"{name}.csr", "-CA", str(ca / "ca.pem"), "-CAkey", str(ca / "ca.key"),
                 "-CAcreateserial", "-CAserial", "ca.srl", "-days", "2", "-extfile", "ext.cnf", "-out", str(cert))
        else:
            # "openssl ca" is the tool that sets dates in the past.
            (self.work / "index.txt").write_text("")
            (self.work / "serial").write_text("1000\n")
            (self.work / "ca.cnf").write_text(
                "[ca]\ndefault_ca=test\n[test]\ndatabase=index.txt\nserial=serial\nnew_certs_dir=.\n"
                "default_md=sha256\npolicy=any\nunique_subject=no\ncopy_extensions=none\n[any]\ncommonName=supplied\n")
            ossl("ca", "-batch", "-config", "ca.cnf", "-cert", str(ca / "ca.pem"), "-keyfile", str(ca / "ca.key"),
                 "-startdate", dates[0], "-enddate", dates[1], "-extfile", "ext.cnf", "-notext",
                 "-in", f"{name}.csr", "-out", str(cert))
        return key, cert

    def test_no_certificate_error_is_ignored(self):
        cases = {
            "unknown authority": dict(issued_by_test_ca=False),
            "expired": dict(dates=("20200101000000Z", "20200201000000Z")),
            "wrong host": dict(host="update.example"),
        }
        for case, options in cases.items():
            with self.subTest(case):
                key, cert = self.certificate(case.replace(" ", "-"), **options)
                with servers.FaultServer(lifetime=60, certfile=cert, keyfile=key) as rogue:
                    run = self.probe(rogue.url("/file/1000"))
                c = run.complete
                self.assertOutcome(run, False, c["msg"], c["kind"], 0, 0)
                self.assertIn(c["kind"], ("enethttpcertificateexception", "enethttpclientexception"))
                self.assertIsNone(run.file_bytes())
                self.assertEqual(rogue.requests, [])  # the request never reached it
                print(f"{case}:", c["kind"], c["msg"])

    def test_a_redirect_from_https_to_http_is_not_followed(self):
        # A plain http server that counts whoever comes.
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(4)
        listener.settimeout(0.2)
        port = listener.getsockname()[1]
        visits = []
        stop = threading.Event()

        def accept():
            while not stop.is_set():
                try:
                    conn, _ = listener.accept()
                except OSError:
                    continue
                visits.append(conn.recv(1024))
                conn.close()
        threading.Thread(target=accept, daemon=True).start()
        try:
            run = self.probe(self.server.url(f"/to-http/{port}"))
        finally:
            stop.set()
            listener.close()
        self.assertOutcome(run, False, "Server returned HTTP 302 Found", "", 302, 0)
        self.assertEqual(visits, [], "the plain-http address was contacted")
        self.assertIsNone(run.file_bytes())


if __name__ == "__main__":
    unittest.main(verbosity=2)
