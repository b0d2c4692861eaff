#!/usr/bin/env python3
"""Contact sheets of the installer's views in its nine languages, for the README.

Runs a win64 build (it builds nothing) under Wine on a display and in a prefix of its own
(<build>/screens) and writes one sheet per view to docs/screenshots: main, settings, failed,
install (mid-download) and finish, the nine languages at 96 DPI (<view>.png), English and
Japanese at 144 DPI (<view>-144dpi.png).  One program run per language and DPI passes every
view: a local server at the build's download address answers the first download with 404
(failed view), and after Retry serves the stand-in installer slowly (install view), which
installs and ends with 0 (finish view).  The single shots stay in <build>/screens/shots.

    python3 scripts/screenshots.py [--build build/win64] [--out docs/screenshots]
"""
import argparse
import os
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
HARNESS = ROOT / "tests" / "harness"
sys.path.insert(0, str(HARNESS))
import buildenv  # noqa: E402  (the harness folder is on the path from here)

# Locale given to the program, the language index it must pick from it, the label.
LANGUAGES = [("en_US", "English"), ("de_DE", "Deutsch"), ("fr_FR", "Français"), ("es_ES", "Español"),
             ("pt_BR", "Português"), ("it_IT", "Italiano"), ("zh_CN", "简体中文"), ("zh_TW", "繁體中文"),
             ("ja_JP", "日本語")]
HIGH_DPI_LOCALES = ("en_US", "ja_JP")
VIEWS = ("main", "settings", "install", "failed", "finish")
PERCENT_SHOWN = (30, 60)   # the install view is shot while the label shows a value in this range
DOWNLOAD_SECONDS = 6       # how long the stand-in installer takes to arrive
LABEL_FONT = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"  # Latin and CJK labels alike
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"

wineenv = installer = journey = None  # the harness, imported once the environment names the build


def use_build(build, state_file):
    global wineenv, installer, journey
    wineenv, installer, journey = buildenv.use_build(build, state_file)


class Shooter:
    def __init__(self, shots):
        self.shots = shots
        self.notes = []  # what went differently from the plan, printed at the end
        self.language = ""

    def note(self, text):
        print("  NOTE: " + text)
        self.notes.append(text)

    def shoot(self, tag, view, settle=0.4):
        # The pointer goes off the window first: no hover colour in the picture.
        installer.xdotool("mousemove", 0, 0)
        time.sleep(settle)  # the last paint after the change that was waited for
        out = self.shots / f"{tag}-{view}.png"
        subprocess.run(["import", "-window", installer.xwindow(), str(out)], env=wineenv.env(), check=True)
        return out

    def set_language(self, index, tag):
        """Checks the language the locale gave; picks it in the settings when it is another.
        Says where the language came from."""
        got = int(installer.state()["lang"])
        if got == index:
            return f"language {index} from the locale"
        self.note(f"{tag}: the locale gave language {got}; {index} chosen in cbLanguage")
        installer.click("lblSettings")
        installer.wait_until(lambda: installer.controls()["cbLanguage"]["showing"])
        installer.click("cbLanguage")
        time.sleep(0.3)
        installer.key("Home", *["Down"] * index, "Return")
        if not installer.wait_until(lambda: int(installer.state()["lang"]) == index, timeout=5):
            raise RuntimeError(f"{tag}: cbLanguage did not switch to language {index}")
        installer.click("lblSettings")
        installer.wait_until(lambda: not installer.controls()["pnlSettings"]["showing"])
        return f"language {index} chosen in cbLanguage"

    def start(self, locale, extra_env=None):
        installer.reset_log()
        installer.xdotool("mousemove", 0, 0)
        return installer.start(extra_env={"LC_ALL": f"{locale}.UTF-8", **(extra_env or {})})

    @staticmethod
    def finish(p):
        if p.poll() is None:
            try:
                installer.close(p)
            except Exception as e:  # noqa: BLE001 - the run ends either way, but say why
                print(f"  close failed ({e!r}); ending the installer")
                p.kill()
                p.wait()

    def journey_run(self, locale, index, tag, work):
        """One program run shows every view: main, settings, the download answered 404 (failed),
        Retry, the install view mid-download, finish."""
        shots = {}
        body = journey.FAKE_INSTALLER
        rate = max(1024, body.stat().st_size // DOWNLOAD_SECONDS)
        fake = journey.FakeInstaller(work / f"{tag}-installer.jsonl", exit_code=0, run_ms=300)
        with journey.download_server(["status:404", f"slow:{rate}"]):
            p = self.start(locale, fake.env)
            try:
                self.language = self.set_language(index, tag)
                shots["main"] = self.shoot(tag, "main")
                installer.click("lblSettings")
                if not installer.wait_until(lambda: installer.controls()["cbLanguage"]["showing"]):
                    raise RuntimeError(f"{tag}: the settings panel did not open")
                shots["settings"] = self.shoot(tag, "settings")
                installer.click("lblSettings")
                installer.wait_until(lambda: not installer.controls()["pnlSettings"]["showing"])
                installer.click("pbInstall")
                if not installer.wait_until(lambda: installer.controls()["lblOffline"]["showing"], timeout=30):
                    raise RuntimeError(f"{tag}: the failed view did not come")
                shots["failed"] = self.shoot(tag, "failed")
                installer.click("pbInstall")  # Retry
                shots["install"] = self.shoot_mid_download(tag)
                if not installer.wait_until(lambda: installer.state()["done"] == "1", timeout=60):
                    raise RuntimeError(f"{tag}: the finish view did not come")
                shots["finish"] = self.shoot(tag, "finish")
            finally:
                self.finish(p)
        return shots

    def shoot_mid_download(self, tag):
        # The percentage moves on: the shot follows its reading at once.
        low, high = PERCENT_SHOWN
        installer.xdotool("mousemove", 0, 0)
        deadline = time.time() + 60
        while time.time() < deadline:
            before = self.percent()
            if before is not None and before >= low:
                if before > high:
                    self.note(f"{tag}: the download passed {high}% unseen; install view shot at {before}%")
                shot = self.shoot(tag, "install", settle=0)
                after = self.percent()
                if after is not None and after > high:
                    self.note(f"{tag}: install view shot between {before}% and {after}%")
                return shot
            time.sleep(0.05)
        raise RuntimeError(f"{tag}: the download never reached {low}%")

    @staticmethod
    def percent():
        text = installer.controls()["lblInstPct"]["text"].rstrip("%")
        return int(text) if text.isdigit() else None


def set_dpi(dpi):
    r = wineenv.run("reg", "add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
    if r.returncode != 0:
        raise RuntimeError(f"could not set LogPixels {dpi}")


def contact_sheet(out, shots, labels, columns):
    """The shots in a grid with a label under each, as a small palette PNG."""
    cmd = ["montage", "-font", LABEL_FONT, "-pointsize", "15", "-background", "white"]
    for shot, label in zip(shots, labels):
        cmd += ["-label", label, str(shot)]
    cmd += ["-tile", f"{columns}x", "-geometry", "+6+6", "-depth", "8", "miff:-"]
    sheet = subprocess.run(cmd, check=True, capture_output=True).stdout
    # A full-depth colour tree keeps the window's greys apart (#F5F5F5 is not white) and the
    # icon's gradient without bands; no dithering noise on flat areas.
    subprocess.run(["convert", "miff:-", "-quantize", "sRGB", "-treedepth", "8", "+dither", "-colors", "256",
                    "-define", "png:compression-level=9", f"PNG8:{out}"], input=sheet, check=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default=str(ROOT / "build" / "win64"), help="win64 build folder (default build/win64)")
    ap.add_argument("--out", default=str(ROOT / "docs" / "screenshots"), help="folder of the contact sheets")
    args = ap.parse_args()
    build, out = Path(args.build).resolve(), Path(args.out).resolve()
    for need in ("src/quorvel-setup.exe", "tests/wine/qvtool.exe", "tests/fixtures/fake_installer.exe"):
        if not (build / need).exists():
            raise SystemExit(f"{build / need} is missing: build the win64 preset first")
    screens = build / "screens"
    state_file = screens / "state.json"
    use_build(build, state_file)
    shots_dir, work = screens / "shots", screens / "work"
    for d in (shots_dir, work, out):
        d.mkdir(parents=True, exist_ok=True)
    for old in list(shots_dir.glob("*.png")) + list(work.glob("*.jsonl")):
        old.unlink()

    t0 = time.time()
    shooter = Shooter(shots_dir)
    taken = {}  # (dpi, locale) -> {view: file}
    wineenv.start(state_file, installer.QVTOOL)
    try:
        for dpi, locales in ((96, [l for l, _ in LANGUAGES]), (144, list(HIGH_DPI_LOCALES))):
            set_dpi(dpi)
            try:
                for locale in locales:
                    index = [l for l, _ in LANGUAGES].index(locale)
                    tag = f"{locale}-{dpi}"
                    t = time.time()
                    taken[(dpi, locale)] = shooter.journey_run(locale, index, tag, work)
                    print(f"{tag}: {shooter.language}, {len(taken[(dpi, locale)])} views in {time.time() - t:.1f} s")
            finally:
                set_dpi(96)
    finally:
        wineenv.stop(state_file)

    names = dict(LANGUAGES)
    sheets = []
    for view in VIEWS:
        for dpi, suffix, columns in ((96, "", 3), (144, "-144dpi", 2)):
            keys = [k for k in taken if k[0] == dpi]
            sheet = out / f"{view}{suffix}.png"
            contact_sheet(sheet, [taken[k][view] for k in keys],
                          [f"{names[l]} ({l}, {d} DPI)" for d, l in keys], columns)
            sheets.append(sheet)
    total = sum(s.stat().st_size for s in sheets)
    for s in sheets:
        print(f"{s.relative_to(ROOT) if s.is_relative_to(ROOT) else s}: {s.stat().st_size // 1024} KiB")
    print(f"{len(sheets)} contact sheets, {total / 1024:.0f} KiB in all, in {time.time() - t0:.0f} s")
    for n in shooter.notes:
        print("NOTE: " + n)
    return 0


if __name__ == "__main__":
    sys.exit(main())
