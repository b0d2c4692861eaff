#!/usr/bin/env python3
"""Download benchmark: the download worker (download_probe.exe under Wine, WinHTTP) against
curl and against a bare WinHTTP loop under the same Wine (winhttp_fetch.exe, the ceiling of
any WinHTTP client there), fetching the same 256 MiB file over HTTPS from a local nginx, three
runs each.  curl has no Windows build here, so it runs natively.

Prints per run and on average: throughput, CPU seconds, the worker's peak working set and its
number of progress reports, and the ratio of the two throughputs.

Usage (after `cmake --build --preset win64`):  python3 scripts/bench-download.py [BUILD_DIR]
It starts its own Wine environment (display, prefix, wineserver) beside the build and stops it.
"""
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
BUILD = Path(sys.argv[1]).resolve() if len(sys.argv) > 1 else SOURCE / "build" / "win64"
sys.path.insert(0, str(SOURCE / "tests" / "harness"))

import servers  # noqa: E402
import wineenv  # noqa: E402

SIZE = 256 * 1024 * 1024
RUNS = 3
MIB = 1024 * 1024


def wait_rusage(pid):
    _, status, ru = os.wait4(pid, 0)
    return os.waitstatus_to_exitcode(status), ru.ru_utime + ru.ru_stime, ru.ru_maxrss * 1024


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(4 * MIB):
            h.update(chunk)
    return h.hexdigest()


def run_worker(probe, url, work, want, size):
    """One download by the worker (download_probe.exe); its figures as a dict."""
    dest, out, log = work / "w.exe", work / "w.jsonl", work / "w.log"
    for p in (dest, out, log):
        p.unlink(missing_ok=True)
    t0 = time.monotonic()
    p = wineenv.spawn(probe, url, wineenv.unix_to_windows(dest), "0",
                      wineenv.unix_to_windows(out), wineenv.unix_to_windows(log))
    rc, cpu, _ = wait_rusage(p.pid)
    wall = time.monotonic() - t0
    events = [json.loads(x) for x in out.read_text().splitlines()]
    done = next(e for e in events if e["ev"] == "complete")
    exit_ev = next(e for e in events if e["ev"] == "exit")
    ok = rc == 0 and done["success"] and dest.stat().st_size == size and digest(dest) == want
    # Transfer time: from the first progress report (the response has arrived) to the
    # completion; the process time also holds Wine's start and the TLS handshake.
    first = next(e for e in events if e["ev"] == "progress")
    dest.unlink(missing_ok=True)
    return dict(ok=ok, wall=wall, transfer=(done["ms"] - first["ms"]) / 1000,
                cpu=exit_ev["cpuSeconds"], cpu_rusage=cpu, peak=exit_ev["peakWorkingSet"],
                reports=exit_ev["progressCount"])


def run_bare(fetch, url, dest, want, size, avail=False):
    """One download by the bare WinHTTP loop (winhttp_fetch.exe) under the same Wine."""
    p = wineenv.spawn(fetch, url, wineenv.unix_to_windows(dest), *(("avail",) if avail else ()))
    rc, cpu, _ = wait_rusage(p.pid)
    p.returncode = rc
    stdout = p.read_stdout()
    ok = rc == 0 and dest.stat().st_size == size and digest(dest) == want
    dest.unlink(missing_ok=True)
    return dict(ok=ok, transfer=int(stdout.split("ms=")[1]) / 1000, cpu_rusage=cpu)


def start_wine(build, qvtool):
    """The benchmarks' own Wine environment in <build>/bench-wine (from the tests' prefix
    snapshot when there is one); returns its state file."""
    state_dir = build / "bench-wine"
    state_dir.mkdir(exist_ok=True)
    template = build / "wine" / "prefix-template.tar"
    if template.exists() and not (state_dir / "prefix-template.tar").exists():
        shutil.copy(template, state_dir / "prefix-template.tar")
    state = state_dir / "state.json"
    os.environ[wineenv.STATE_ENV] = str(state)
    wineenv.start(state, qvtool)
    return state


def main():
    probe = BUILD / "tests" / "wine" / "download_probe.exe"
    qvtool = BUILD / "tests" / "wine" / "qvtool.exe"
    fetch = BUILD / "tests" / "wine" / "winhttp_fetch.exe"
    if not probe.exists():
        raise SystemExit(f"{probe} is missing: build the win64 preset first")
    state = start_wine(BUILD, qvtool)
    work = Path(tempfile.mkdtemp(prefix="qv-bench-"))
    try:
        www = work / "www"
        www.mkdir()
        src = www / "quorvel.exe"
        with open(src, "wb") as f:
            for _ in range(SIZE // (16 * MIB)):
                f.write(os.urandom(16 * MIB))
        want = digest(src)
        with servers.Nginx(www, lifetime=1800) as nginx:
            url = nginx.url("/quorvel.exe")
            worker, curl, bare, bare_avail = [], [], [], []
            for i in range(RUNS):
                worker.append(run_worker(probe, url, work, want, SIZE))
                wall = worker[-1]["wall"]
                # The bare WinHTTP loop under the same Wine.
                dest = work / "w.exe"
                bare.append(run_bare(fetch, url, dest, want, SIZE))
                bare_avail.append(run_bare(fetch, url, dest, want, SIZE, avail=True))
                # curl, same file, same server.
                cdest = work / "c.exe"
                cdest.unlink(missing_ok=True)
                t0 = time.monotonic()
                c = subprocess.Popen(["curl", "-s", "-f", "--cacert", str(wineenv.tls_dir() / "ca.pem"),
                                      "-o", str(cdest), url], stdin=subprocess.DEVNULL)
                rc, ccpu, _ = wait_rusage(c.pid)
                cwall = time.monotonic() - t0
                curl.append(dict(ok=rc == 0 and cdest.stat().st_size == SIZE, wall=cwall, cpu=ccpu))
                cdest.unlink(missing_ok=True)
                print(f"run {i + 1}: worker {SIZE / MIB / worker[-1]['transfer']:7.1f} MiB/s "
                      f"(process {SIZE / MIB / wall:7.1f} MiB/s), bare WinHTTP "
                      f"{SIZE / MIB / bare[-1]['transfer']:7.1f} MiB/s, curl {SIZE / MIB / cwall:7.1f} MiB/s", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        wineenv.stop(state)

    def mbps(seconds):
        return SIZE / MIB / seconds

    print()
    print(f"256 MiB over HTTPS from local nginx, {RUNS} runs each")
    print(f"{'':22}{'run 1':>10}{'run 2':>10}{'run 3':>10}{'mean':>10}")

    def row(name, values, fmt="{:10.1f}"):
        print(f"{name:22}" + "".join(fmt.format(v) for v in values) + fmt.format(statistics.mean(values)))

    row("worker MiB/s", [mbps(w["transfer"]) for w in worker])
    row("worker MiB/s (proc)", [mbps(w["wall"]) for w in worker])
    row("bare WinHTTP MiB/s", [mbps(b["transfer"]) for b in bare])
    row("bare, reads as arrive", [mbps(b["transfer"]) for b in bare_avail])
    row("curl MiB/s", [mbps(c["wall"]) for c in curl])
    row("worker CPU s", [w["cpu"] for w in worker], "{:10.2f}")
    row("worker CPU s (rusage)", [w["cpu_rusage"] for w in worker], "{:10.2f}")
    row("curl CPU s", [c["cpu"] for c in curl], "{:10.2f}")
    row("worker peak WS MiB", [w["peak"] / MIB for w in worker])
    row("worker reports", [w["reports"] for w in worker], "{:10.0f}")
    ratio = statistics.mean(mbps(w["transfer"]) for w in worker) / statistics.mean(mbps(c["wall"]) for c in curl)
    ratio_proc = statistics.mean(mbps(w["wall"]) for w in worker) / statistics.mean(mbps(c["wall"]) for c in curl)
    ratio_bare = statistics.mean(mbps(w["transfer"]) for w in worker) / statistics.mean(
        mbps(b["transfer"]) for b in bare)
    ratio_avail = statistics.mean(mbps(w["transfer"]) for w in worker) / statistics.mean(
        mbps(b["transfer"]) for b in bare_avail)
    print(f"throughput ratio worker/bare WinHTTP under the same Wine: {ratio_bare:.2f} "
          f"(full-buffer reads), {ratio_avail:.2f} (reads of what has arrived, as the worker does)")
    print(f"throughput ratio worker/curl: {ratio:.2f} (transfer), {ratio_proc:.2f} (whole process)")
    print("all downloads complete and identical:", all(w["ok"] for w in worker) and all(c["ok"] for c in curl)
          and all(b["ok"] for b in bare + bare_avail))
    print("(CPU of the worker excludes the wineserver's share; curl runs natively.)")


if __name__ == "__main__":
    main()
