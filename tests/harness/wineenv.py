"""Shared Wine environment for the tests that run the Windows build.

One Xvfb display, one Wine prefix and one persistent wineserver serve a whole CTest run:
`start` (the CTest fixture set-up) makes them, `stop` (the clean-up) ends them, and every test
script calls `env()` to get the environment for its own wine64 processes.  A prepared prefix is
kept as a tar snapshot beside the state file so that later runs start in about two seconds.
Everything started here stops by itself: Xvfb runs under `timeout`, the wineserver exits a
minute after its last client.
"""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tarfile
import time
from pathlib import Path

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
STATE_ENV = "QV_WINE_STATE"
XVFB_LIFETIME_S = 3 * 3600


def _state_path():
    p = os.environ.get(STATE_ENV)
    if not p:
        raise SystemExit(f"{STATE_ENV} is not set: run this test through ctest")
    return Path(p)


def _base_env(display, prefix):
    e = dict(os.environ)
    e.update(DISPLAY=display, WINEPREFIX=str(prefix), WINEDEBUG="-all",
             WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH="win64")
    return e


def _free_display():
    for n in range(80, 200):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            return n
    raise RuntimeError("no free X display number")


def _wait_display(display, timeout=20):
    end = time.time() + timeout
    while time.time() < end:
        if subprocess.run(["xdpyinfo", "-display", display], capture_output=True).returncode == 0:
            return
        time.sleep(0.1)
    raise RuntimeError(f"Xvfb {display} did not come up")


def _run(cmd, env, timeout=120):
    return subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=timeout)


def _reg(env, *args):
    _run([WINE, "reg"] + list(args) + ["/f"], env)


def _prepare_prefix(prefix, env):
    _run([WINE, "wineboot", "-i"], env, timeout=300)
    _run([WINESERVER, "-w"], env)
    _run([WINE, "winecfg", "/v", "win10"], env)
    # There is no window manager on the test display: unmanaged windows spare the 2-s wait for
    # one that Wine otherwise makes each time a window closes.
    _reg(env, "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/t", "REG_SZ", "/d", "N")
    # CJK text in non-CJK locales needs font links to a font that has the glyphs.
    link = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"
    for face in ("Segoe UI", "Tahoma", "Liberation Sans", "MS Shell Dlg", "MS Shell Dlg 2"):
        _reg(env, "add", link, "/v", face, "/t", "REG_MULTI_SZ", "/d",
             "wqy-microhei.ttc,WenQuanYi Micro Hei")
    _run([WINESERVER, "-w"], env)


def _make_tls(root):
    """A test CA and a certificate for "localhost" signed by it (PEM), made once per state dir."""
    tls = root / "tls"
    if (tls / "server.pem").exists():
        return tls
    tls.mkdir(parents=True, exist_ok=True)
    def ossl(*a):
        subprocess.run(["openssl"] + list(a), cwd=tls, check=True, capture_output=True)
    ossl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-subj",
         "/CN=Quorvel Test CA", "-keyout", "ca.key", "-out", "ca.pem",
         "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    ossl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der")
    ossl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout", "server.key",
         "-out", "server.csr")
    (tls / "ext.cnf").write_text("subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n"
                                 "basicConstraints=CA:FALSE\n")
    ossl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
         "-days", "3650", "-extfile", "ext.cnf", "-out", "server.pem")
    return tls


def start(state_file, qvtool=None):
    state_file = Path(state_file)
    root = state_file.parent
    root.mkdir(parents=True, exist_ok=True)
    stop(state_file, quiet=True)
    n = _free_display()
    display = f":{n}"
    xvfb = subprocess.Popen(["timeout", str(XVFB_LIFETIME_S), "Xvfb", display, "-screen", "0",
                             "1280x1024x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    _wait_display(display)
    prefix = root / "prefix"
    snapshot = root / "prefix-template.tar"
    if prefix.exists():
        shutil.rmtree(prefix)
    env = _base_env(display, prefix)
    if snapshot.exists():
        with tarfile.open(snapshot) as t:
            t.extractall(root)
    else:
        _prepare_prefix(prefix, env)
        with tarfile.open(snapshot, "w") as t:
            t.add(prefix, arcname="prefix")
    # A persistent server makes each exe start in tens of milliseconds instead of a second.
    subprocess.Popen([WINESERVER, "-p60"], env=env, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL, start_new_session=True).wait()
    # HTTPS tests use "localhost" certificates from a test CA that only this prefix trusts.
    tls = _make_tls(root)
    if qvtool:
        if _run([WINE, str(qvtool), "trust", "Z:" + str(tls / "ca.der").replace("/", "\\")], env).returncode:
            raise RuntimeError("could not add the test CA to the prefix's Root store")
    state = {"display": display, "prefix": str(prefix), "xvfb_pid": xvfb.pid, "tls": str(tls)}
    state_file.write_text(json.dumps(state))
    print(f"wine ready: DISPLAY={display} WINEPREFIX={prefix}")


def stop(state_file, quiet=False):
    state_file = Path(state_file)
    if not state_file.exists():
        return
    state = json.loads(state_file.read_text())
    env = _base_env(state["display"], state["prefix"])
    subprocess.run([WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        os.killpg(state["xvfb_pid"], signal.SIGTERM)
    except (ProcessLookupError, PermissionError):
        pass
    state_file.unlink()
    if not quiet:
        print("wine stopped")


# ---- used by test scripts ----------------------------------------------------------------

def state():
    return json.loads(_state_path().read_text())


def env(**extra):
    s = state()
    e = _base_env(s["display"], s["prefix"])
    e.update({k: str(v) for k, v in extra.items()})
    return e


def tls_dir():
    """Folder with ca.pem, server.pem and server.key (CN and name "localhost")."""
    return Path(state()["tls"])


def drive_c():
    return Path(state()["prefix"]) / "drive_c"


def temp_dir():
    """The Windows user's temporary folder, C:\\users\\root\\Temp."""
    user = os.environ.get("USER") or "root"
    return drive_c() / "users" / user / "Temp"


def unix_to_windows(path):
    """A path inside the prefix's drive C, or any Unix path through drive Z."""
    p = Path(path).resolve()
    try:
        rel = p.relative_to(drive_c().resolve())
        return "C:\\" + str(rel).replace("/", "\\")
    except ValueError:
        return "Z:" + str(p).replace("/", "\\")


def windows_to_unix(path):
    """The Unix path of a "C:\\..." (inside the prefix) or "Z:\\..." path."""
    drive, rest = path[:2].upper(), path[2:].replace("\\", "/").lstrip("/")
    if drive == "C:":
        return drive_c() / rest
    if drive == "Z:":
        return Path("/") / rest
    raise ValueError(f"no Unix path for {path!r}")


# ---- URL handlers --------------------------------------------------------------------------
# Wine's shell32 opens a URL with the command under HKCR\<scheme>\shell\open\command, which
# is HKLM\Software\Classes in Wine 8: HKCU\Software\Classes is not merged in, so a per-user
# registration alone would not be seen.  The prefix's default is winebrowser.exe.

def url_handler(scheme):
    """The command that opens `scheme` URLs in the prefix, or None."""
    r = run("reg", "query", rf"HKCR\{scheme}\shell\open\command", "/ve")
    for line in r.stdout.splitlines():
        m = re.match(r"^\s+\(Default\)\s+REG_(?:EXPAND_)?SZ\s+(.*)$", line)
        if m:
            return m.group(1)
    return None


def register_url_handler(exe, schemes=("http", "https")):
    """Makes `exe` (a Unix path, or a Windows one) open URLs of these schemes in the prefix, with
    the URL as its one argument.  Returns the commands it replaced, for restore_url_handlers."""
    win = exe if re.match(r"^[A-Za-z]:\\", str(exe)) else unix_to_windows(exe)
    previous = {}
    for scheme in schemes:
        previous[scheme] = url_handler(scheme)
        _set_url_command(scheme, f'"{win}" "%1"')
    return previous


def restore_url_handlers(previous):
    for scheme, command in previous.items():
        if command is not None:
            _set_url_command(scheme, command)


def _set_url_command(scheme, command):
    r = run("reg", "add", rf"HKCR\{scheme}\shell\open\command", "/ve", "/d", command, "/f")
    if r.returncode != 0 or url_handler(scheme) != command:
        raise RuntimeError(f"could not register {command} for {scheme} URLs: {r.stdout}{r.stderr}")


class Result:
    def __init__(self, returncode, stdout, stderr):
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr


def run(exe, *args, timeout=60, extra_env=None, cwd=None, isolated_network=False):
    """Runs a program under wine64 and waits for it (not for the Wine services it may start,
    which inherit its output handles: so output goes through files, never pipes)."""
    p = spawn(exe, *args, extra_env=extra_env, cwd=cwd, isolated_network=isolated_network)
    try:
        rc = p.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
        raise
    try:
        return Result(rc, p.read_stdout(), p.read_stderr())
    finally:
        p._out.close()
        p._err.close()


class Spawned(subprocess.Popen):
    def read_stdout(self):
        self._out.seek(0)
        return self._out.read().decode("utf-8", "replace")

    def read_stderr(self):
        self._err.seek(0)
        return self._err.read().decode("utf-8", "replace")


def spawn(exe, *args, extra_env=None, cwd=None, isolated_network=False):
    """Starts a program under wine64.  With isolated_network it runs in a network namespace of
    its own with no interfaces up, so that a name lookup fails on the spot instead of asking
    the machine's resolver (tests send nothing beyond loopback)."""
    import tempfile
    out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
    cmd = [WINE, str(exe)] + [str(a) for a in args]
    if isolated_network:
        cmd = ["unshare", "--net"] + cmd
    p = Spawned(cmd, env=env(**(extra_env or {})), stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                cwd=cwd)
    p._out, p._err = out, err
    return p


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[1] not in ("start", "stop"):
        raise SystemExit("usage: wineenv.py start STATE_FILE [QVTOOL] | stop STATE_FILE")
    if sys.argv[1] == "start":
        start(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)
    else:
        stop(sys.argv[2])
