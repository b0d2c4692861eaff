#!/usr/bin/env python3
"""The program's figures against their targets, in one run on this machine: release program
size, download throughput and CPU of the worker against a bare WinHTTP loop, start-up time to
the window shown against a bare Win32 window, the user-interface thread's answer time during a
whole install (download, slide changes, the installer run), and the worker's peak working set
for a 1 GiB against a 100 MiB download.  Prints a table and writes it, with a description of
the machine, to docs/benchmarks.md.  Asserts nothing: figures are noisy on a busy machine, so
each is the median of several runs.  A figure that could not be taken is printed as
"not measured", never guessed.

Usage (after building the win32 preset and a win64 test build):
    python3 scripts/benchmark.py [--release build/win32/src/quorvel-setup.exe] [--build build/win64]
                                 [--runs 3] [--mib 256] [--skip-ws] [--out docs/benchmarks.md]
It starts its own Wine environment (display, prefix, wineserver) beside the win64 build and
uses that build's download port (QV_TEST_DOWNLOAD_PORT), so not while that build's tests run.
"""
import argparse
import importlib.util
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(SOURCE / "tests" / "harness"))
MIB = 1024 * 1024
GIB = 1024 * MIB
NOT_MEASURED = "not measured"


def load_bench_download():
    found = importlib.util.spec_from_file_location("bench_download", SOURCE / "scripts" / "bench-download.py")
    mod = importlib.util.module_from_spec(found)
    found.loader.exec_module(mod)
    return mod


def cache_value(build, name):
    m = re.search(rf"^{name}:\w+=(.*)$", (build / "CMakeCache.txt").read_text(), re.M)
    return m.group(1) if m else None


def machine():
    cpu = next((l.split(":", 1)[1].strip() for l in Path("/proc/cpuinfo").read_text().splitlines()
                if l.startswith("model name")), platform.processor())
    mem = int(next(l.split()[1] for l in Path("/proc/meminfo").read_text().splitlines()
                   if l.startswith("MemTotal"))) * 1024
    wine = subprocess.run(["/usr/lib/wine/wine64", "--version"], capture_output=True, text=True).stdout.strip()
    load = os.getloadavg()
    return (f"{cpu}, {os.cpu_count()} cores, {mem / GIB:.1f} GiB RAM, {platform.system()} "
            f"{platform.release()}, Wine {wine}, load average at start {load[0]:.2f}")


def median(values):
    return statistics.median(values) if values else None


def percentile(values, p):
    s = sorted(values)
    return s[min(len(s) - 1, max(0, int(round(p / 100 * len(s) + 0.5)) - 1))]


# ---- the figures ----------------------------------------------------------------------------

def download_figures(bd, build, runs, mib, work):
    """Worker against bare WinHTTP (whole-buffer reads), same nginx, same file, alternating."""
    import servers
    size = mib * MIB
    probe, fetch = build / "tests/wine/download_probe.exe", build / "tests/wine/winhttp_fetch.exe"
    www = work / "www"
    www.mkdir(exist_ok=True)
    src = www / "quorvel.exe"
    with open(src, "wb") as f:
        for _ in range(size // (16 * MIB)):
            f.write(os.urandom(16 * MIB))
    want = bd.digest(src)
    worker, bare = [], []
    with servers.Nginx(www, lifetime=1800) as nginx:
        url = nginx.url("/quorvel.exe")
        for i in range(runs):
            worker.append(bd.run_worker(probe, url, work, want, size))
            bare.append(bd.run_bare(fetch, url, work / "b.exe", want, size))
            print(f"  download run {i + 1}: worker {mib / worker[-1]['transfer']:.1f} MiB/s, "
                  f"bare {mib / bare[-1]['transfer']:.1f} MiB/s", flush=True)
    src.unlink()
    ok = all(r["ok"] for r in worker + bare)
    w_mbps = median([mib / r["transfer"] for r in worker])
    b_mbps = median([mib / r["transfer"] for r in bare])
    w_cpu = median([r["cpu_rusage"] / (size / GIB) for r in worker])
    b_cpu = median([r["cpu_rusage"] / (size / GIB) for r in bare])
    return dict(ok=ok, w_mbps=w_mbps, b_mbps=b_mbps, w_cpu=w_cpu, b_cpu=b_cpu,
                reports=median([r["reports"] for r in worker]))


def working_set_figures(bd, build, work):
    """The worker's peak working set for 100 MiB and 1 GiB downloads (one each)."""
    import servers
    probe = build / "tests/wine/download_probe.exe"
    www = work / "ws"
    www.mkdir(exist_ok=True)
    peaks = {}
    block = os.urandom(16 * MIB)
    for name, size in (("small", 100 * MIB), ("large", GIB)):
        src = www / f"{name}.exe"
        with open(src, "wb") as f:
            for i in range(size // (16 * MIB)):
                f.write(block[i:] + block[:i])  # not one repeated block: no compressible pattern
            f.write(block[:size % (16 * MIB)])
        want = bd.digest(src)
        with servers.Nginx(www, lifetime=1800) as nginx:
            r = bd.run_worker(probe, nginx.url(f"/{name}.exe"), work, want, size)
        src.unlink()
        if not r["ok"]:
            return None
        peaks[name] = r["peak"]
        print(f"  peak working set, {size // MIB} MiB download: {r['peak'] / MIB:.1f} MiB", flush=True)
    return peaks


def startup_figures(wineenv, build, runs):
    """CreateProcess to a visible window found by another process: the installer against a
    bare Win32 window, alternating, after one warm-up start of each."""
    probe = build / "tests/wine/perf_probe.exe"
    setup, bare = build / "src/quorvel-setup.exe", build / "tests/wine/bare_window.exe"
    times = {"setup": [], "bare": []}
    for i in range(runs + 1):
        for key, exe, caption in (("bare", bare, "Bare Window"), ("setup", setup, "Quorvel Setup")):
            r = wineenv.run(probe, "startup", wineenv.unix_to_windows(exe), caption, "30", timeout=60)
            m = re.search(r"ms=([\d.]+)", r.stdout)
            if r.returncode != 0 or not m:
                print(f"  start-up of {exe.name} not measured: {r.stdout.strip()} {r.stderr.strip()[-200:]}")
                continue
            if i > 0:  # the first round loads Wine's DLLs into the page cache
                times[key].append(float(m.group(1)))
        time.sleep(0.5)
    print(f"  start-up ms: installer {times['setup']}, bare window {times['bare']}", flush=True)
    return median(times["setup"]), median(times["bare"])


def ui_answer_figures(wineenv, installer, journey, build, work, seconds=14):
    """WM_NULL every 10 ms from another process, from the Install click through the download
    (about 6 s, slides changing), the installer run and the finish view."""
    probe = build / "tests/wine/perf_probe.exe"
    installer.reset_log()
    (wineenv.temp_dir() / "quorvel-setup.exe").unlink(missing_ok=True)
    body = journey.FAKE_INSTALLER
    rate = max(32 * 1024, body.stat().st_size // 6)
    record = work / f"record-{time.monotonic_ns()}.jsonl"  # one per run: its start is this run's
    fake = journey.FakeInstaller(record, run_ms=1500)
    with journey.download_server([f"slow:{rate}"], lifetime=120):
        p = installer.start(extra_env=fake.env)
        try:
            time.sleep(1.0)
            ping = wineenv.spawn(probe, "ping", str(seconds))
            time.sleep(0.3)
            installer.click("pbInstall")
            rc = ping.wait(timeout=seconds + 30)
            out = ping.read_stdout()
            done = installer.state().get("done") == "1"
        finally:
            if p.poll() is None:
                p.kill()
                p.wait(10)
            journey.wait_for(lambda: not fake.running(), timeout=15)
    samples = [(int(a), float(ms), ok == "1") for a, ms, ok in re.findall(r"at=(\d+) ms=([\d.]+) ok=(\d)", out)]
    if rc != 0 or len(samples) < 100:
        return None
    starts = [r["ms"] for r in fake.runs()]
    near = [ms for at, ms, _ in samples if starts and abs(at - starts[0]) <= 500]
    rest = [ms for at, ms, _ in samples if not (starts and abs(at - starts[0]) <= 500)]
    return dict(n=len(samples), p99=percentile(rest, 99), max=max(rest), done=done,
                start_max=max(near) if near else None, timeouts=sum(1 for s in samples if not s[2]))


# ---- the table ------------------------------------------------------------------------------

def fmt(v, pattern):
    return NOT_MEASURED if v is None else format(v, pattern)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--release", default=str(SOURCE / "build/win32/src/quorvel-setup.exe"))
    ap.add_argument("--build", default=str(SOURCE / "build/win64"), help="win64 test build folder")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--mib", type=int, default=256, help="size of the throughput download")
    ap.add_argument("--skip-ws", action="store_true", help="skip the 1 GiB working-set download")
    ap.add_argument("--out", default=str(SOURCE / "docs/benchmarks.md"))
    a = ap.parse_args()
    build, release = Path(a.build).resolve(), Path(a.release).resolve()
    for need in ("tests/wine/download_probe.exe", "tests/wine/winhttp_fetch.exe", "tests/wine/perf_probe.exe",
                 "tests/wine/bare_window.exe", "src/quorvel-setup.exe", "tests/fixtures/fake_installer.exe"):
        if not (build / need).exists():
            raise SystemExit(f"{build / need} is missing: build the win64 test build first")
    os.environ["QV_BUILD_DIR"] = str(build)
    os.environ["QV_TEST_DOWNLOAD_PORT"] = cache_value(build, "QV_TEST_DOWNLOAD_PORT") or "47443"
    import installer  # noqa: E402 (reads QV_BUILD_DIR)
    import journey  # noqa: E402
    import wineenv  # noqa: E402
    bd = load_bench_download()

    desc = machine()
    print(desc, flush=True)
    size = release.stat().st_size if release.exists() else None
    state = bd.start_wine(build, build / "tests/wine/qvtool.exe")
    work = Path(tempfile.mkdtemp(prefix="qv-benchmark-"))
    dl = ws = ui = None
    st = (None, None)
    try:
        print("start-up ...", flush=True)
        st = startup_figures(wineenv, build, max(a.runs, 5))
        print("user-interface answer time ...", flush=True)
        uis = [u for u in (ui_answer_figures(wineenv, installer, journey, build, work) for _ in range(a.runs)) if u]
        if uis:
            ui = {k: median([u[k] for u in uis if u[k] is not None]) for k in ("p99", "max", "start_max", "n")}
            ui["done"] = all(u["done"] for u in uis)
            print(f"  runs: " + "; ".join(f"p99 {u['p99']:.1f} max {u['max']:.1f} start {u['start_max']}"
                                          for u in uis), flush=True)
        print("download throughput ...", flush=True)
        dl = download_figures(bd, build, a.runs, a.mib, work)
        if not a.skip_ws:
            print("peak working set ...", flush=True)
            ws = working_set_figures(bd, build, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        wineenv.stop(state)

    ratio = lambda x, y: x / y if x is not None and y else None  # noqa: E731
    rows = [
        ("release exe size (bytes)", fmt(size, ","), "450,000 (stretch 400,000)",
         "≤ 450,000" if size is not None and size <= 450_000 else "over target" if size else ""),
    ]
    if dl:
        thr = ratio(dl["w_mbps"], dl["b_mbps"])
        cpu = ratio(dl["w_cpu"], dl["b_cpu"])
        rows += [
            (f"download MiB/s, worker ÷ bare WinHTTP ({a.mib} MiB)", fmt(thr, ".2f"),
             f"≥ 0.95 (worker {dl['w_mbps']:.1f}, bare {dl['b_mbps']:.1f} MiB/s)", "met" if thr >= 0.95 else "not met"),
            ("CPU s per GiB, worker ÷ bare WinHTTP", fmt(cpu, ".2f"),
             f"≤ 1.2 (worker {dl['w_cpu']:.2f}, bare {dl['b_cpu']:.2f} s/GiB)", "met" if cpu <= 1.2 else "not met"),
        ]
    else:
        rows += [("download MiB/s, worker ÷ bare WinHTTP", NOT_MEASURED, "≥ 0.95", ""),
                 ("CPU s per GiB, worker ÷ bare WinHTTP", NOT_MEASURED, "≤ 1.2", "")]
    if ui:
        rows += [
            ("UI thread answer p99 (ms)", fmt(ui["p99"], ".1f"), "≤ 16", "met" if ui["p99"] <= 16 else "not met"),
            ("UI thread answer max (ms)", fmt(ui["max"], ".1f"), "≤ 50", "met" if ui["max"] <= 50 else "not met"),
            ("UI thread answer max at the installer start (ms)", fmt(ui["start_max"], ".1f"),
             "reported on its own", ""),
        ]
    else:
        rows += [("UI thread answer p99 / max (ms)", NOT_MEASURED, "≤ 16 / ≤ 50", "")]
    su = ratio(*st)
    rows.append(("start-up to window shown, installer ÷ bare window", fmt(su, ".2f"),
                 f"≤ 1.3 (installer {fmt(st[0], '.0f')} ms, bare {fmt(st[1], '.0f')} ms)",
                 "" if su is None else "met" if su <= 1.3 else "not met"))
    if ws:
        diff = (ws["large"] - ws["small"]) / MIB
        rows.append(("peak working set, 1 GiB − 100 MiB download (MiB)", f"{diff:.2f}", "≤ 2",
                     "met" if diff <= 2 else "not met"))
    else:
        rows.append(("peak working set, 1 GiB − 100 MiB download (MiB)", NOT_MEASURED, "≤ 2", ""))

    head = ("| figure | measured | target / anchor | |", "|---|---|---|---|")
    lines = list(head) + [f"| {a_} | {b} | {c} | {d} |" for a_, b, c, d in rows]
    notes = [f"Machine: {desc}.", "",
             f"Medians of {a.runs} runs (start-up: {max(a.runs, 5)} after a warm-up). Release program: "
             f"`{release.relative_to(SOURCE) if release.is_relative_to(SOURCE) else release}`; "
             f"Wine figures from the win64 build `{build.relative_to(SOURCE) if build.is_relative_to(SOURCE) else build}`.",
             "Throughput is the transfer time (first progress report to completion) against the bare loop's "
             "own transfer time, both from the same local nginx over HTTPS; CPU is each process's user+system "
             "time (the wineserver's share is not counted) per GiB.",
             "UI answer time: `perf_probe ping` sends WM_NULL with SendMessageTimeout every 10 ms from the "
             "Install click through the download, slide changes, the installer run and the finish view; "
             "samples within 0.5 s of the installer's start are reported on their own row.",
             "Start-up: `perf_probe startup` times CreateProcess to a visible top-level window found with "
             "FindWindow, the installer against `tests/wine/bare_window.exe` under the same Wine.",
             ]
    if dl and not dl["ok"]:
        notes.append("WARNING: a download of the throughput runs did not complete intact.")
    text = "\n".join(lines)
    print("\n" + text)
    Path(a.out).parent.mkdir(parents=True, exist_ok=True)
    Path(a.out).write_text("# Benchmarks\n\nWritten by `python3 scripts/benchmark.py`; figures, not assertions.\n\n"
                           + text + "\n\n" + "\n".join(notes) + "\n", encoding="utf-8")
    print(f"\nwritten to {a.out}")


if __name__ == "__main__":
    main()
