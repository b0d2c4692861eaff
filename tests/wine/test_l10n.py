"""Localisation under Wine: the captions embedded in the real program and the start language."""
import json
import os
import re
import sys
import tempfile
from pathlib import Path

import wineenv

BUILD = Path(os.environ["QV_BUILD_DIR"])
SOURCE = Path(os.environ["QV_SOURCE_DIR"])
PROBE = BUILD / "tests/wine/l10n_probe.exe"
EXE = BUILD / "src/quorvel-setup.exe"
STAMP = re.compile(r"^\d{4}-\d\d-\d\d \d\d.\d\d.\d\d\.\d{3}  ")

failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


def messages(log):
    text = log.read_bytes().decode("utf-8").lstrip("\ufeff")
    return [STAMP.sub("", line) for line in text.split("\r\n") if line]


def captions(stdout):
    rows = {}
    for line in stdout.splitlines():
        lang, slide, text = line.split("\t", 2)
        rows[(int(lang), int(slide))] = text
    return rows


codes = ["en", "de", "fr", "es", "pt", "it", "zh-Hans", "zh-Hant", "ja"]
shipped = json.loads((SOURCE / "src/resources/slides.json").read_text(encoding="utf-8"))

with tempfile.TemporaryDirectory() as tmp:
    # The captions inside the real installer: nine languages, 36 captions, as in the source file.
    log = Path(tmp) / "exe.log"
    r = wineenv.run(PROBE, "slides", wineenv.unix_to_windows(EXE), wineenv.unix_to_windows(log))
    check(r.returncode == 0, f"probe ran on the installer (rc={r.returncode})")
    rows = captions(r.stdout)
    check(len(rows) == 36 and all(rows.values()), "36 non-empty captions from the installer")
    check(all(rows[(i, s)] == shipped[c][s] for i, c in enumerate(codes) for s in range(4)),
          "every caption equals the shipped resource text")
    check("\u2019" in rows[(0, 2)] and "\u2019" in rows[(5, 2)], "typographic apostrophes survive")
    l10n = [m for m in messages(log) if m.startswith("L10N:")]
    check(l10n == ["L10N: slides loaded (9 languages in resource)"], f"log: {l10n}")

    # A module without the resource: the failure line, every caption empty.
    log = Path(tmp) / "self.log"
    r = wineenv.run(PROBE, "slides", "-", wineenv.unix_to_windows(log))
    rows = captions(r.stdout)
    check(r.returncode == 0 and len(rows) == 36 and not any(rows.values()),
          "no resource: all captions empty, program goes on")
    l10n = [m for m in messages(log) if m.startswith("L10N:")]
    # 1812: the module has no resources at all; 1813/1814: it has some, but not this one.
    check(len(l10n) == 1 and re.fullmatch(r"L10N: failed to load slides: EResNotFound: Resource "
                                          r"SLIDES not found: \((1812|1813|1814)\) \S.*", l10n[0]),
          f"missing resource line: {l10n}")

# The starting language follows the Windows display language.
for locale, langid, index in [(None, "0409", 0), ("de_DE.UTF-8", "0407", 1),
                              ("fr_FR.UTF-8", "040C", 2), ("ja_JP.UTF-8", "0411", 8),
                              ("pt_BR.UTF-8", "0416", 4), ("zh_CN.UTF-8", "0804", 6),
                              ("zh_TW.UTF-8", "0404", 7), ("ru_RU.UTF-8", "0419", 0)]:
    extra = {"LC_ALL": locale} if locale else {}
    r = wineenv.run(PROBE, "lang", extra_env=extra)
    got = r.stdout.split()
    check(got == [langid, str(index)], f"{locale or 'default'}: expected {langid} {index}, got {got}")

sys.exit(1 if failures else 0)
