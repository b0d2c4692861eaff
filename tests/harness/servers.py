"""Local HTTPS servers for the download tests.

Both listen on 127.0.0.1 only, on a free port (FaultServer also on a given one), use the
harness's "localhost" certificate (the Wine prefix trusts its CA) and stop by themselves after
`lifetime` seconds at the latest.

- Nginx: Debian's nginx with a temporary configuration, serving a folder.  "/" serves the files
  as they are (Content-Length, Range); "/slow/" the same at a limited rate; "/chunked/" the same
  through sub_filter, which drops the length, so the body comes chunked.
- FaultServer: ours, Python standard library, for the answers a real server gives only when
  things go wrong, by path or as a scripted sequence for a fixed address (see FaultServer).
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

    A fixed address such as the setup program's "/quorvel.exe" gets a scripted sequence of
    answers instead: `script` maps a path (without query) to a list of answers, one per request,
    the last one repeating; `bodies` maps it to the bytes served (bytes, or a file whose bytes
    are read at start; default: payload(262144)).  Answers:

    "file"             the body: 200, or 206 from the Range offset (416 past the end)
    "status:CODE"      that status and a small text body
    "short" / "short:K"  like "file", but sends 10 bytes less (or only K bytes) of what it
                       announced, then closes cleanly
    "slow" / "slow:RATE"  like "file", at RATE bytes per second (default `slow_rate`)
    "nolength"         like "file" but without Content-Length: the body ends when the
                       connection closes (a Range still gets 206 with Content-Range)
    "ignore-range", "reset", "stall"  as the paths of the same name, on the body

    `port` 0 takes a free port; another number binds that one (127.0.0.1) or raises when it is
    taken.  `requests` records (path, Range, User-Agent) of every request, `answers` (path,
    answer) of every scripted one.
    """

    def __init__(self, lifetime=300, stall=40, certfile=None, keyfile=None, port=0, script=None,
                 bodies=None, slow_rate=64 * 1024):
        self.certfile, self.keyfile = certfile, keyfile
        self.lifetime = lifetime
        self.stall = stall
        self.port = port
        self.script = {path: list(answers) for path, answers in (script or {}).items()}
        for path, answers in self.script.items():
            if not answers:
                raise ValueError(f"empty script for {path}")
            for a in answers:
                self._parse_answer(a)  # a typo fails here, not as a puzzling download
        self._bodies = dict(bodies or {})
        self.slow_rate = slow_rate
        self.requests = []  # (path, Range header or None, User-Agent)
        self.answers = []   # (path, scripted answer)
        self._served = {}   # scripted path -> answers given so far
        self._stop = threading.Event()
        self._lock = threading.Lock()
        self._thread = None

    def start(self):
        tls = wineenv.tls_dir()
        self.ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.ctx.load_cert_chain(str(self.certfile or tls / "server.pem"), str(self.keyfile or tls / "server.key"))
        self.bodies = {path: self._bytes_of(self._bodies.get(path)) for path in self.script}
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            self.sock.bind(("127.0.0.1", self.port or 0))
        except OSError as e:
            self.sock.close()
            raise RuntimeError(f"cannot listen on 127.0.0.1:{self.port}: {e}") from e
        self.sock.listen(16)
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self._deadline = time.time() + self.lifetime
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def stop(self):
        """Stops answering; when it returns the port is free for the next server."""
        self._stop.set()
        if self._thread:
            self._thread.join(5)

    def _ended(self):
        return self._stop.is_set() or time.time() >= self._deadline

    @staticmethod
    def _bytes_of(body):
        if body is None:
            return payload(262144)
        if isinstance(body, (bytes, bytearray)):
            return bytes(body)
        return Path(body).read_bytes()

    @staticmethod
    def _parse_answer(answer):
        kind, _, arg = answer.partition(":")
        if kind not in ("file", "status", "short", "slow", "nolength", "nolength-reset", "ignore-range", "reset",
                        "stall"):
            raise ValueError(f"unknown answer {answer!r}")
        if kind == "status" and (not arg.isdigit() or int(arg) not in set(http.HTTPStatus)):
            raise ValueError(f"{answer!r}: status needs a known code")
        if arg and not arg.isdigit():
            raise ValueError(f"{answer!r}: the argument is a number")
        return kind, int(arg) if arg else None

    def _serve(self):
        while not self._ended():
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
            rng = headers.get("range")
            bare = path.split("?", 1)[0]
            with self._lock:
                self.requests.append((path, rng, headers.get("user-agent")))
                answer = None
                if bare in self.script:
                    answers = self.script[bare]
                    n = self._served.get(bare, 0)
                    self._served[bare] = n + 1
                    answer = answers[min(n, len(answers) - 1)]
                    self.answers.append((bare, answer))
            if answer is None:
                self.handle(conn, path, rng)
            else:
                kind, arg = self._parse_answer(answer)
                self._answer(conn, kind, arg, self.bodies[bare], rng)
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

    def _ranged(self, conn, body, rng, length=True):
        """Status and the bytes owed for a body and an optional Range header (None: 416 sent).
        Without `length` the head leaves out Content-Length."""
        n = len(body)
        m = re.fullmatch(r"bytes=(\d+)-", rng or "")
        if not m:
            self._head(conn, 200, [("Content-Length", n)] if length else [])
            return body
        start = int(m.group(1))
        if start >= n:
            self._head(conn, 416, [("Content-Range", f"bytes */{n}"), ("Content-Length", 0)])
            return None
        self._head(conn, 206, [("Content-Range", f"bytes {start}-{n - 1}/{n}")]
                   + ([("Content-Length", n - start)] if length else []))
        return body[start:]

    def _paced(self, conn, data, piece, pause):
        for i in range(0, len(data or b""), piece):
            if self._ended():
                return
            conn.sendall(data[i:i + piece])
            time.sleep(pause)

    def _answer(self, conn, kind, arg, body, rng):
        if kind == "file":
            rest = self._ranged(conn, body, rng)
            if rest:
                conn.sendall(rest)
        elif kind == "slow":
            rate = arg or self.slow_rate
            piece = max(1, min(16384, rate // 10))
            self._paced(conn, self._ranged(conn, body, rng), piece, piece / rate)
        elif kind == "status":
            text = f"status {arg}\n".encode()
            self._head(conn, arg, [("Content-Length", len(text)), ("Content-Type", "text/plain")])
            conn.sendall(text)
        elif kind == "ignore-range":
            self._head(conn, 200, [("Content-Length", len(body))])
            conn.sendall(body)
        elif kind == "short":
            rest = self._ranged(conn, body, rng)
            if rest:
                conn.sendall(rest[:arg] if arg is not None else rest[:-10])
            conn.shutdown(socket.SHUT_RDWR)  # an orderly close: no error, just too few bytes
        elif kind == "nolength":
            rest = self._ranged(conn, body, rng, length=False)
            if rest:
                conn.sendall(rest)
            conn.shutdown(socket.SHUT_RDWR)  # the close is what ends the body
        elif kind == "nolength-reset":
            # No length announced, and the connection is reset half-way: an error, not an end.
            rest = self._ranged(conn, body, rng, length=False)
            if rest:
                conn.sendall(rest[:len(rest) // 2])
                time.sleep(0.2)
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        elif kind == "reset":
            rest = self._ranged(conn, body, rng)
            if rest:
                conn.sendall(rest[:len(rest) // 2])
                time.sleep(0.2)
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        elif kind == "stall":
            rest = self._ranged(conn, body, rng)
            if rest:
                conn.sendall(rest[:len(rest) // 4])
                self._stop.wait(self.stall)

    def handle(self, conn, path, rng):
        parts = path.strip("/").split("/")
        kind, arg = parts[0], int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
        if kind == "slow":
            self._paced(conn, self._ranged(conn, payload(arg), rng), 16384, 0.01)
        elif kind == "status":
            self._answer(conn, "status", arg, b"", rng)
        elif kind in ("file", "ignore-range", "short", "reset", "stall", "nolength", "nolength-reset"):
            self._answer(conn, kind, None, payload(arg), rng)
        elif kind == "to-http":
            # A redirect from https to plain http on port `arg`.
            self._head(conn, 302, [("Location", f"http://localhost:{arg}/file/1000"), ("Content-Length", 0)])
        elif kind == "redirect":
            if arg > 0:
                self._head(conn, 302, [("Location", str(arg - 1)), ("Content-Length", 0)])
            else:
                self._answer(conn, "file", None, payload(1000), rng)
        else:
            self._head(conn, 404, [("Content-Length", 0)])
