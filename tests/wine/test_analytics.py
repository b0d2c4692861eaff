"""The usage-event sender under Wine: real WinHTTP against a local HTTPS collector of ours."""
import json
import os
import re
import socket
import sys
import tempfile
import time
from pathlib import Path

import wineenv
from analytics_server import Collector

BUILD = Path(os.environ["QV_BUILD_DIR"])
PROBE = BUILD / "tests/wine/analytics_probe.exe"
STAMP = re.compile(r"^(\d{4}-\d\d-\d\d \d\d.\d\d.\d\d\.\d{3})  ")
GUID = re.compile(r"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
EXIT_BANNER = "======== Setup exited ========"


def cache_value(name):
    for line in (BUILD / "CMakeCache.txt").read_text().splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1]
    raise KeyError(name)


MEASUREMENT_ID = cache_value("QV_GA_MEASUREMENT_ID")
API_SECRET = cache_value("QV_GA_API_SECRET")
QUERY = f"?measurement_id={MEASUREMENT_ID}&api_secret={API_SECRET}"
TLS = wineenv.tls_dir()

failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)


def messages(log):
    if not log.exists():
        return []
    text = log.read_bytes().decode("utf-8").lstrip("\ufeff")
    return [STAMP.sub("", line) for line in text.split("\r\n") if line]


def ga(log):
    return [m for m in messages(log) if m.startswith("GA:")]


def no_secrets(log, what):
    raw = log.read_bytes() if log.exists() else b""
    check(MEASUREMENT_ID.encode() not in raw and API_SECRET.encode() not in raw,
          f"{what}: measurement id and secret stay out of the log")


def wait_for(predicate, timeout=20):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


def track(tmp, name, host, events, terminal_lines):
    """Runs the probe's "track" mode and lets it end once `terminal_lines` outcome lines are
    in its log (or after 20 s).  Returns (result, log path)."""
    log, stop = Path(tmp) / f"{name}.log", Path(tmp) / f"{name}.stop"
    args = ["track", host, wineenv.unix_to_windows(log), wineenv.unix_to_windows(stop)]
    for ev, reason in events:
        args += [ev, reason]
    p = wineenv.spawn(PROBE, *args)
    outcome = re.compile(r"^GA: \S+ (debug/mp/collect -> |ERROR )")
    wait_for(lambda: sum(1 for m in ga(log) if outcome.match(m)) >= terminal_lines, timeout=25)
    stop.write_text("")
    rc = p.wait(timeout=30)
    return wineenv.Result(rc, p.read_stdout(), p.read_stderr()), log


def returned_ms(result):
    m = re.search(r"returned_ms=(\d+)", result.stdout)
    return int(m.group(1)) if m else None


def refused_port():
    port = wineenv.free_port()
    with socket.socket() as s:  # nothing listens there: connect is refused
        check(s.connect_ex(("127.0.0.1", port)) != 0, f"port {port} is closed")
    return port


with tempfile.TemporaryDirectory() as tmp:
    # ---- Client id: 36 upper-case characters, the same for every event of a run, new per run.
    ids = []
    for _ in range(2):
        r = wineenv.run(PROBE, "clientid")
        bodies = [json.loads(line) for line in r.stdout.splitlines()]
        check(len(bodies) == 2 and bodies[0]["client_id"] == bodies[1]["client_id"],
              "one client id for all events of a run")
        ids.append(bodies[0]["client_id"])
        check(bool(GUID.match(ids[-1])), f"client id {ids[-1]} has the GUID form")
    check(ids[0] != ids[1], "two runs have different client ids")

    # ---- Two events against a collector that answers: paths, header, bytes, order, log.
    validation = b"\r\n  {\n  \"validationMessages\": [ ]\n}\n\t\n"
    with Collector(TLS, {"/mp/collect": ("answer", 204, "No Content", b""),
                         "/debug/mp/collect": ("answer", 200, "OK", validation)}) as c:
        r, log = track(tmp, "normal", c.host, [("setup_run", ""), ("install_failed", "exit_code_1")], 2)
        reqs = c.wait_requests(4)
    check(r.returncode == 0, "probe ended normally")
    check(len(reqs) == 4, f"four requests for two events (got {len(reqs)})")
    events = {}
    for req in reqs:
        events.setdefault(json.loads(req["body"])["events"][0]["name"], []).append(req)
    msgs = ga(log)
    for name, reason in [("setup_run", ""), ("install_failed", "exit_code_1")]:
        got = events.get(name, [])
        check([q["path"] for q in got] == ["/mp/collect" + QUERY, "/debug/mp/collect" + QUERY],
              f"{name}: collect, then validation, with the credentials in the query")
        line = next((m for m in msgs if m.startswith(f"GA: event {name} ")), "")
        m = re.fullmatch(rf'GA: event {name} reason="{reason}" payload=(.*)', line)
        check(bool(m), f"{name}: event line {line!r}")
        payload = m.group(1).encode() if m else b"?"
        check(all(q["body"] == payload for q in got), f"{name}: both bodies are the logged payload bytes")
        check(all(q["headers"].get("Content-Type") == "application/json" for q in got),
              f"{name}: Content-Type: application/json")
        check(all(q["header_names"].count("content-type") == 1 and "user-agent" not in q["header_names"]
                  for q in got), f"{name}: no header of our own beyond Content-Type "
                                 f"({got[0]['header_names'] if got else None})")
        check(f"GA: {name} mp/collect -> HTTP 204 No Content" in msgs, f"{name}: collect answer logged")
        check(f'GA: {name} debug/mp/collect -> HTTP 200, validation: {{\n  "validationMessages": [ ]\n}}'
              in msgs, f"{name}: validation answer logged trimmed, inner line breaks kept")
        body = json.loads(payload) if m else {}
        check(body.get("events") == [{"name": name, "params": {"reason": reason} if reason else {}}]
              and GUID.match(body.get("client_id", "")) is not None and list(body) == ["client_id", "events"],
              f"{name}: body fields")
        check(not payload.startswith(b"\xef\xbb\xbf") and b" " not in payload, f"{name}: compact, no BOM")
    no_secrets(log, "normal")

    # ---- 400 on collect: the validation request still follows.
    with Collector(TLS, {"/mp/collect": ("answer", 400, "Bad Request", b"nope"),
                         "/debug/mp/collect": ("answer", 200, "OK", b"{}")}) as c:
        r, log = track(tmp, "bad", c.host, [("install_retry", "download_error_http_503")], 1)
        reqs = c.wait_requests(2, timeout=2)
    check([q["endpoint"] for q in reqs] == ["/mp/collect", "/debug/mp/collect"], "400: both requests made")
    check(ga(log)[1:] == ["GA: install_retry mp/collect -> HTTP 400 Bad Request",
                          "GA: install_retry debug/mp/collect -> HTTP 200, validation: {}"],
          f"400: both answers logged {ga(log)}")

    # ---- Connection closed without an answer: one error line, no validation request.
    with Collector(TLS, {"/mp/collect": ("drop",)}) as c:
        r, log = track(tmp, "drop", c.host, [("install_start", "")], 1)
        time.sleep(1)
        reqs = c.snapshot()
    lines = ga(log)
    check([q["endpoint"] for q in reqs] == ["/mp/collect"], f"dropped: no validation request ({len(reqs)})")
    check(len(lines) == 2 and re.fullmatch(r"GA: install_start ERROR ENetHTTP\w*Exception: .*\(\d+\) .+",
                                           lines[1]) is not None, f"dropped: one error line {lines[1:]}")

    # ---- Closed port: one error line, nothing else.
    port = refused_port()
    r, log = track(tmp, "closed", f"localhost:{port}", [("install_success", "")], 1)
    lines = ga(log)
    check(len(lines) == 2 and lines[1].startswith(
        "GA: install_success ERROR ENetHTTPClientException: Error sending data: (12029) "),
        f"closed port: one error line {lines[1:]}")
    no_secrets(log, "closed port")

    # ---- A collector that never answers: the caller does not wait, the response time-out ends it.
    with Collector(TLS, {"/mp/collect": ("stall", 40)}) as c:
        r, log = track(tmp, "stall", c.host, [("install_start", ""), ("install_retry", "x")], 2)
        reqs = c.snapshot()
    ms = returned_ms(r)
    check(ms is not None and ms < 1000, f"stalled server: TrackEvent returned in {ms} ms")
    lines = ga(log)
    errors = [m for m in lines if " ERROR " in m]
    check(len(errors) == 2 and all("ENetHTTPClientException: Error receiving data: (" in m for m in errors),
          f"stalled server: a receive time-out error per event {errors}")
    check(len(reqs) == 2 and all(q["endpoint"] == "/mp/collect" for q in reqs),
          "stalled server: no validation request")

    # ---- The process ends at once with an event in flight; nothing is logged after the exit line.
    with Collector(TLS, {"/mp/collect": ("stall", 40)}) as c:
        log = Path(tmp) / "exit.log"
        start = time.monotonic()
        r = wineenv.run(PROBE, "exit", c.host, wineenv.unix_to_windows(log), 1500, timeout=20)
        took = time.monotonic() - start
        reqs = c.snapshot()
    msgs = messages(log)
    check(r.returncode == 0, f"in flight: exit code {r.returncode}")
    check(len(reqs) == 1, "in flight: the request had reached the server")
    check(took < 5 + 1.5, f"in flight: process ended before the 5-s response time-out ({took:.1f} s)")
    check(msgs[-1:] == [EXIT_BANNER] and ga(log) == [m for m in msgs if m.startswith("GA: event")],
          f"in flight: no line after the event line but the exit line {msgs[3:]}")

    # ---- A late event thread after the log has closed neither crashes nor writes.
    with Collector(TLS, {"/mp/collect": ("delay", 1.5, 200, "OK", b""),
                         "/debug/mp/collect": ("answer", 200, "OK", b"{}")}) as c:
        log = Path(tmp) / "late.log"
        r = wineenv.run(PROBE, "late", c.host, wineenv.unix_to_windows(log), 300, 4000, timeout=30)
        reqs = c.snapshot()
    msgs = messages(log)
    check(r.returncode == 0, f"late thread: exit code {r.returncode}")
    check([q["endpoint"] for q in reqs] == ["/mp/collect", "/debug/mp/collect"],
          "late thread: the thread went on after the log closed")
    check(msgs[-1:] == [EXIT_BANNER] and len(ga(log)) == 1, f"late thread: nothing written {msgs[3:]}")

    # ---- The production entry point posts to the built-in host (localhost:<test port> here).
    host = cache_value("QV_ANALYTICS_HOST")
    port = int(host.rsplit(":", 1)[1]) if ":" in host else 0
    try:
        c = Collector(TLS, {}, port=port) if host.startswith("localhost:") else None
    except OSError:
        c = None
    if c is None:
        print(f"note: built-in analytics host {host} not available here; production path not posted")
    else:
        with c:
            log, stop = Path(tmp) / "product.log", Path(tmp) / "product.stop"
            p = wineenv.spawn(PROBE, "product", wineenv.unix_to_windows(log),
                              wineenv.unix_to_windows(stop), "setup_run", "")
            reqs = c.wait_requests(2)
            wait_for(lambda: any("debug/mp/collect" in m for m in ga(log)))
            stop.write_text("")
            p.wait(timeout=30)
        check([q["path"] for q in reqs] == ["/mp/collect" + QUERY, "/debug/mp/collect" + QUERY],
              "TrackEvent posts to the built-in host")
        no_secrets(log, "product")

sys.exit(1 if failures else 0)
