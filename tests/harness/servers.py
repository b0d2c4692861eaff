"""Local HTTPS servers for the download tests.

Both listen on 127.0.0.1 only, on a free port, use the harness's "localhost" certificate (the
Wine prefix trusts its CA) and stop by themselves after `lifetime` seconds at the latest.

- Nginx: Debian's nginx with a temporary configuration, serving a folder.  "/" serves the files
  as they are (Content-Length, Range); "/slow/" the same at a limited rate; "/chunked/" the same
  through sub_filter, which drops the length, so the body comes chunked.
- FaultServer: ours, Python standard library, for the answers a real server gives only when
  things go wrong (see FaultServer.handle for the paths).
"""
import http
import os
import random
import re
import shutil
import socket
import ssl
import subprocess
import tempfile
import threading
import time
from pathlib import Path

import wineenv


def payload(size, seed=7):
    """Deterministic, non-repeating bytes: an offset error cannot go unnoticed."""
    return random.Random(seed * 1_000_003 + size).randbytes(size)


def _wait_port(port, timeout=10):
    end = time.time() + timeout
    while time.time() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"nothing listens on port {port}")


class _LocalHttpsServer:
    """A server on 127.0.0.1 reached as https://localhost:PORT; a context manager."""
    port = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def url(self, path):
        return f"https://localhost:{self.port}{path}"


class Nginx(_LocalHttpsServer):
    def __init__(self, root, lifetime=600, slow_rate="2m"):
        self.root = Path(root)
        self.lifetime = lifetime
        self.slow_rate = slow_rate
        self.port = None
        self.proc = None
        self.dir = None

    def start(self):
        tls = wineenv.tls_dir()
        self.dir = Path(tempfile.mkdtemp(prefix="qv-nginx-"))
        self.port = wineenv.free_port()
        d = self.dir
        conf = f"""
daemon off;
master_process off;
worker_processes 1;
pid {d}/nginx.pid;
error_log {d}/error.log warn;
events {{ worker_connections 64; }}
http {{
    log_format qv '$request_uri "$http_range" "$http_user_agent" $status $body_bytes_sent';
    access_log {d}/access.log qv;
    client_body_temp_path {d}/body;
    proxy_temp_path {d}/proxy;
    fastcgi_temp_path {d}/fastcgi;
    uwsgi_temp_path {d}/uwsgi;
    scgi_temp_path {d}/scgi;
    default_type application/octet-stream;
    sendfile on;
    server {{
        listen 127.0.0.1:{self.port} ssl;
        server_name localhost;
        ssl_certificate {tls}/server.pem;
        ssl_certificate_key {tls}/server.key;
        root {self.root};
        location /slow/ {{ alias {self.root}/; limit_rate {self.slow_rate}; }}
        location /chunked/ {{
            alias {self.root}/;
            limit_rate {self.slow_rate};
            sub_filter_types *;
            sub_filter 'qv-no-such-text' 'x';
            sub_filter_once off;
        }}
    }}
}}
"""
        (d / "nginx.conf").write_text(conf)
        with open(d / "stderr.txt", "wb") as err:
            self.proc = subprocess.Popen(
                ["timeout", str(self.lifetime), "nginx", "-p", str(d), "-c", str(d / "nginx.conf"),
                 "-e", str(d / "error.log")],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        try:
            _wait_port(self.port)
        except RuntimeError:
            self.stop()
            raise RuntimeError("nginx did not start: " + (d / "stderr.txt").read_text()
                               + (d / "error.log").read_text() if (d / "error.log").exists() else "")

    def access_log(self):
        p = self.dir / "access.log"
        return p.read_text().splitlines() if p.exists() else []

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.dir:
            shutil.rmtree(self.dir, ignore_errors=True)
            self.dir = None


class FaultServer(_LocalHttpsServer):
    """HTTPS server of exact failures.  Paths (N: body size in bytes):

    /file/N            200 with N bytes; a Range request gets 206 (416 past the end)
    /slow/N            like /file/N, sent in small pieces with pauses (a transfer that lasts)
    /status/CODE       that status with its standard reason and a small body
    /ignore-range/N    200 with all N bytes, whatever the Range header says
    /short/N           announces N (200, or 206 for a Range), sends 10 bytes less, closes cleanly
    /reset/N           announces the length, sends half of what it owes, then resets the
                       connection (TCP RST)
    /redirect/K        K > 0: 302 to /redirect/K-1 (relative Location); K = 0: /file/1000
    /stall/N           announces N, sends a quarter, then sends nothing for `stall` seconds
    """

    def __init__(self, lifetime=300, stall=40, certfile=None, keyfile=None):
        self.certfile, self.keyfile = certfile, keyfile
        self.lifetime = lifetime
        self.stall = stall
        self.requests = []  # (path, Range header or None, User-Agent)
        self._stop = threading.Event()
        self._lock = threading.Lock()

    def start(self):
        tls = wineenv.tls_dir()
        self.ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.ctx.load_cert_chain(str(self.certfile or tls / "server.pem"), str(self.keyfile or tls / "server.key"))
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self._deadline = time.time() + self.lifetime
        threading.Thread(target=self._serve, daemon=True).start()

    def stop(self):
        self._stop.set()

    def _serve(self):
        while not self._stop.is_set() and time.time() < self._deadline:
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            threading.Thread(target=self._connection, args=(conn,), daemon=True).start()
        self.sock.close()

    def _connection(self, raw):
        raw.settimeout(self.stall + 30)
        try:
            conn = self.ctx.wrap_socket(raw, server_side=True)
        except (ssl.SSLError, OSError):
            raw.close()
            return
        try:
            data = b""
            while b"\r\n\r\n" not in data:
                chunk = conn.recv(4096)
                if not chunk:
                    return
                data += chunk
            head = data.split(b"\r\n\r\n", 1)[0].decode("latin-1").split("\r\n")
            path = head[0].split(" ")[1]
            headers = {}
            for line in head[1:]:
                k, _, v = line.partition(":")
                headers[k.strip().lower()] = v.strip()
            with self._lock:
                self.requests.append((path, headers.get("range"), headers.get("user-agent")))
            self.handle(conn, path, headers.get("range"))
        except (OSError, ssl.SSLError):
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    # ---- answers -------------------------------------------------------------------------

    @staticmethod
    def _head(conn, status, headers, reason=None):
        reason = reason or http.HTTPStatus(status).phrase
        lines = [f"HTTP/1.1 {status} {reason}"] + [f"{k}: {v}" for k, v in headers] + ["Connection: close"]
        conn.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))

    def _ranged(self, conn, body, rng):
        """Status and the bytes owed for a body and an optional Range header (None: 416 sent)."""
        n = len(body)
        m = re.fullmatch(r"bytes=(\d+)-", rng or "")
        if not m:
            self._head(conn, 200, [("Content-Length", n)])
            return body
        start = int(m.group(1))
        if start >= n:
            self._head(conn, 416, [("Content-Range", f"bytes */{n}"), ("Content-Length", 0)])
            return None
        self._head(conn, 206, [("Content-Range", f"bytes {start}-{n - 1}/{n}"), ("Content-Length", n - start)])
        return body[start:]

    def handle(self, conn, path, rng):
        parts = path.strip("/").split("/")
        kind, arg = parts[0], int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
        if kind == "file":
            rest = self._ranged(conn, payload(arg), rng)
            if rest:
                conn.sendall(rest)
        elif kind == "slow":
            rest = self._ranged(conn, payload(arg), rng)
            for i in range(0, len(rest or b""), 16384):
                if self._stop.is_set():
                    return
                conn.sendall(rest[i:i + 16384])
                time.sleep(0.01)
        elif kind == "status":
            body = f"status {arg}\n".encode()
            self._head(conn, arg, [("Content-Length", len(body)), ("Content-Type", "text/plain")])
            conn.sendall(body)
        elif kind == "ignore-range":
            body = payload(arg)
            self._head(conn, 200, [("Content-Length", len(body))])
            conn.sendall(body)
        elif kind == "short":
            rest = self._ranged(conn, payload(arg), rng)
            if rest:
                conn.sendall(rest[:-10])
            conn.shutdown(socket.SHUT_RDWR)  # an orderly close: no error, just too few bytes
        elif kind == "reset":
            rest = self._ranged(conn, payload(arg), rng)
            if rest:
                conn.sendall(rest[:len(rest) // 2])
                time.sleep(0.2)
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        elif kind == "redirect":
            if arg > 0:
                self._head(conn, 302, [("Location", str(arg - 1)), ("Content-Length", 0)])
            else:
                rest = self._ranged(conn, payload(1000), rng)
                if rest:
                    conn.sendall(rest)
        elif kind == "stall":
            rest = self._ranged(conn, payload(arg), rng)
            if rest:
                conn.sendall(rest[:len(rest) // 4])
                self._stop.wait(self.stall)
        else:
            self._head(conn, 404, [("Content-Length", 0)])
