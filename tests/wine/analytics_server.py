"""A local HTTPS collector for the usage-event tests: records every request (path and query,
headers, body bytes, order) and answers each endpoint as the test scripts it.

Listens on 127.0.0.1 only, on a free port unless one is given, with the "localhost" certificate
of the test CA that the Wine prefix trusts, and shuts itself down after `lifetime` seconds.
"""
import http.server
import ssl
import threading
import time
from urllib.parse import urlsplit


class Collector:
    """Actions per endpoint path ("/mp/collect", "/debug/mp/collect"):
       ("answer", status, reason, body_bytes)   reply at once
       ("delay", seconds, status, reason, body) reply after a pause
       ("stall", seconds)                       say nothing for that long, then close
       ("drop",)                                close the connection without an answer
    """

    def __init__(self, tls_dir, actions=None, port=0, lifetime=120):
        self.actions = actions or {}
        self.requests = []
        self.lock = threading.Lock()
        self.arrived = threading.Condition(self.lock)
        collector = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_POST(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                path = urlsplit(self.path).path
                with collector.lock:
                    collector.requests.append({
                        "path": self.path, "endpoint": path, "headers": dict(self.headers.items()),
                        "header_names": [k.lower() for k in self.headers.keys()],
                        "body": body, "time": time.monotonic()})
                    collector.arrived.notify_all()
                action = collector.actions.get(path, ("answer", 200, "OK", b""))
                kind = action[0]
                if kind == "drop":
                    self.close_connection = True
                    return
                if kind == "stall":
                    time.sleep(action[1])
                    self.close_connection = True
                    return
                if kind == "delay":
                    time.sleep(action[1])
                    action = ("answer",) + tuple(action[2:])
                _, status, reason, payload = action
                self.send_response(status, reason)
                self.send_header("Content-Type", "application/json;charset=utf-8")
                self.send_header("Content-Length", str(len(payload)))
                self.end_headers()
                self.wfile.write(payload)

            do_GET = do_POST

        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(str(tls_dir / "server.pem"), str(tls_dir / "server.key"))
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
        self.httpd.daemon_threads = True
        self.httpd.socket = ctx.wrap_socket(self.httpd.socket, server_side=True)
        self.port = self.httpd.server_address[1]
        self._thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self._thread.start()
        self._timer = threading.Timer(lifetime, self.stop)
        self._timer.daemon = True
        self._timer.start()

    @property
    def host(self):
        return f"localhost:{self.port}"

    def wait_requests(self, n, timeout=20):
        end = time.monotonic() + timeout
        with self.lock:
            while len(self.requests) < n and time.monotonic() < end:
                self.arrived.wait(end - time.monotonic())
            return list(self.requests)

    def snapshot(self):
        with self.lock:
            return list(self.requests)

    def stop(self):
        self._timer.cancel()
        threading.Thread(target=self.httpd.shutdown, daemon=True).start()
        self.httpd.server_close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
