#!/usr/bin/env python3
"""Follows one whole install with the win64 build under Wine, on a display and in a prefix of its
own (<build>/run): a local HTTPS server at the build's download address serves the stand-in
installer slowly enough to watch; the script presses Install, prints the percentages, waits for
the finish view, presses Start Now and prints what happened: the setup log, the requests the
server saw, the stand-in installer's and application's records, and a screenshot of each view.

    python3 scripts/run_installer.py [--build build/win64] [--seconds 2.5] [--vnc [PORT]] [--wait]

--vnc serves the display to a VNC viewer (x11vnc, local connections only) and waits for Enter
before the installer starts; --wait leaves the finish view open until the window is closed or
Start Now is pressed by hand (through the viewer).
"""
import argparse
import os
import socket
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
HARNESS = ROOT / "tests" / "harness"
sys.path.insert(0, str(HARNESS))
import buildenv  # noqa: E402  (the harness folder is on the path from here)

wineenv = installer = journey = None  # the harness, imported once the environment names the build
T0 = time.time()


def say(text):
    print(f"[{time.time() - T0:5.1f} s] {text}", flush=True)


def use_build(build, state_file):
    global wineenv, installer, journey
    wineenv, installer, journey = buildenv.use_build(build, state_file)


def shoot(run_dir, shots, view):
    installer.xdotool("mousemove", 0, 0)  # no hover colour in the picture
    time.sleep(0.3)
    out = run_dir / f"{len(shots) + 1:02d}-{view}.png"
    subprocess.run(["import", "-window", installer.xwindow(), str(out)], env=wineenv.env(), check=True)
    shots.append(out)


def start_vnc(port, interactive):
    """x11vnc on the run's display, for localhost only; view-only while the script drives."""
    display = wineenv.state()["display"]
    cmd = ["x11vnc", "-display", display, "-rfbport", str(port), "-localhost", "-nopw", "-forever",
           "-shared", "-quiet"] + ([] if interactive else ["-viewonly"])
    try:
        vnc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    except FileNotFoundError:
        raise SystemExit("x11vnc is not installed (scripts/deps.sh installs it)")
    end = time.time() + 10
    while time.time() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                break
        except OSError:
            if vnc.poll() is not None:
                raise SystemExit(f"x11vnc ended at once (is port {port} taken?)")
            time.sleep(0.1)
    say(f"VNC: display {display} served at localhost:{port}; connect a VNC viewer there "
        f"(from another machine, first: ssh -L {port}:localhost:{port} this-host)")
    if sys.stdin.isatty():
        input("press Enter when your viewer shows the (still empty) display... ")
    return vnc


def watch_progress(p, timeout, run_dir, shots):
    """Prints the percentage each time it changes until the finish view shows (True), and shoots
    the install view once the download is a third of the way."""
    last = None
    shot = False
    end = time.time() + timeout
    while time.time() < end and p.poll() is None:
        s = installer.state()
        if s["done"] == "1":
            return True
        phase = "download" if s["downloading"] == "1" else "installer running" if s["tmrInstall"] == "1" else \
            "retry pending" if s["retryTimer"] == "1" else "waiting"
        shown = (phase, int(s["progress"]) // 10)
        if shown != last:
            say(f"  {shown[1]:3d}%  {phase}")
            last = shown
        if not shot and shown[1] >= 33:
            shoot(run_dir, shots, "install")
            shot = True
        time.sleep(0.05)
    return False


def report(server, fake, folder, shots, log_lines):
    print("\n==== setup log (" + str(installer.log_path()) + ")")
    for line in log_lines:
        print("  " + line)
    print("\n==== requests the download server saw (path, Range, User-Agent -> answer)")
    answers = [a for _, a in server.answers]
    for i, (path, rng, agent) in enumerate(server.requests):
        print(f"  {path}  Range={rng or '-'}  UA={agent!r} -> {answers[i] if i < len(answers) else '?'}")
    print("\n==== stand-in installer runs (" + str(fake.record) + ")")
    for r in fake.runs():
        print(f"  args={r['args']} lang={r['lang']} dir={r['dir']} exit={r['exit']} files={r['files']}")
    print(f"\n==== stand-in application starts ({folder / 'started.txt'})")
    starts = journey.started(folder)
    for r in starts:
        print(f"  exe={r['exe']} cmdline={r['cmdline']} cwd={r['cwd']} pid={r['pid']}")
    if not starts:
        print("  (none)")
    print("\n==== screenshots")
    for s in shots:
        print(f"  {s}")
    return starts


def failure(run_dir, error):
    """What a broken run leaves to look at: the error, the setup log and the whole screen."""
    say(f"journey FAILED: {type(error).__name__}: {error}")
    print("\n==== setup log (" + str(installer.log_path()) + ")")
    log = installer.log_path()
    if log.exists():
        for line in log.read_bytes().decode("utf-8-sig", "replace").splitlines():
            print("  " + line)
    out = run_dir / "failure-screen.png"
    subprocess.run(["import", "-window", "root", str(out)], env=wineenv.env(), check=False)
    print(f"\n==== the screen at the failure: {out}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default=str(ROOT / "build" / "win64"), help="win64 build folder (default build/win64)")
    ap.add_argument("--seconds", type=float, default=2.5, help="how long the download takes (default 2.5)")
    ap.add_argument("--vnc", nargs="?", type=int, const=5900, metavar="PORT",
                    help="serve the display to a VNC viewer on localhost:PORT (default 5900)")
    ap.add_argument("--wait", action="store_true", help="leave the finish view open until the window is closed")
    args = ap.parse_args()
    build = Path(args.build).resolve()
    for need in ("src/quorvel-setup.exe", "tests/wine/qvtool.exe", "tests/fixtures/fake_installer.exe"):
        if not (build / need).exists():
            raise SystemExit(f"{build / need} is missing: build the win64 preset first (scripts/run.sh does)")
    run_dir = build / "run"
    run_dir.mkdir(parents=True, exist_ok=True)
    for old in list(run_dir.glob("*.png")) + list(run_dir.glob("*.jsonl")):
        old.unlink()
    state_file = run_dir / "state.json"
    use_build(build, state_file)

    say(f"Wine environment in {run_dir}")
    wineenv.start(state_file, installer.QVTOOL)
    shots = []
    try:
        return journey_run(args, run_dir, shots)
    except Exception as e:  # noqa: BLE001 - reported with what the run left behind
        failure(run_dir, e)
        return 1
    finally:
        wineenv.stop(state_file)


def journey_run(args, run_dir, shots):
    vnc = None
    try:
        if args.vnc:
            vnc = start_vnc(args.vnc, interactive=args.wait)
        fake = journey.FakeInstaller(run_dir / "installer-runs.jsonl", exit_code=0, run_ms=1500)
        folder = wineenv.drive_c() / "Program Files" / "Quorvel"
        size = journey.FAKE_INSTALLER.stat().st_size
        rate = max(1024, int(size / max(args.seconds, 0.1)))
        installer.reset_log()
        with journey.download_server([f"slow:{rate}"]) as server:
            say(f"download server: {journey.DOWNLOAD_URL} serves the stand-in installer "
                f"({size // 1024} KiB at {rate // 1024} KiB/s)")
            p = installer.start(extra_env=fake.env)
            st = installer.state()
            say(f"installer window shown: language {st['lang']}, {st['client']} at {st['dpi']} DPI")
            shoot(run_dir, shots, "main")
            say("pressing Install")
            installer.click("pbInstall")
            if not installer.wait_until(lambda: installer.controls()["pnlInstallView"]["showing"], timeout=10):
                raise RuntimeError("the install view did not show")
            finished = watch_progress(p, 120, run_dir, shots)
            if not finished:
                raise RuntimeError("the finish view did not come")
            say("finish view shown")
            shoot(run_dir, shots, "finish")
            if args.wait:
                say("waiting: press Start Now or close the window" + (" through the VNC viewer" if vnc else
                                                                      " (Ctrl+C ends the run)"))
                p.wait()
            else:
                say("pressing Start Now")
                installer.click("pbStart")
                p.wait(timeout=30)
            say(f"installer exited with code {p.returncode}")
            # Explorer may start the application after the setup program has ended; by hand, the
            # window may have been closed instead.
            journey.wait_for(lambda: journey.started(folder), timeout=5 if args.wait else 15)
            starts = report(server, fake, folder, shots, installer.read_log()[1])
        ok = p.returncode == 0 and [r["exit"] for r in fake.runs()] == [0] and (starts or args.wait)
        say("journey complete" if ok else "journey FAILED")
        return 0 if ok else 1
    finally:
        if vnc:
            vnc.terminate()
            vnc.wait()


if __name__ == "__main__":
    sys.exit(main())
