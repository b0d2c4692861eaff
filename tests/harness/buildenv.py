"""For the scripts that drive a win64 build outside CTest (scripts/run_installer.py,
scripts/screenshots.py): the build's settings and the harness set up for it."""
import importlib
import os
from pathlib import Path


def cache_value(build, name):
    """A variable of the build's CMake cache."""
    for line in (Path(build) / "CMakeCache.txt").read_text().splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1]
    raise SystemExit(f"{name} is not in {Path(build) / 'CMakeCache.txt'}")


def use_build(build, state_file):
    """Points the harness at `build` with a Wine environment kept in `state_file`; returns the
    modules wineenv, installer and journey, imported for it."""
    os.environ.update(QV_WINE_STATE=str(state_file), QV_BUILD_DIR=str(build),
                      QV_TEST_DOWNLOAD_PORT=cache_value(build, "QV_TEST_DOWNLOAD_PORT"))
    return tuple(importlib.import_module(m) for m in ("wineenv", "installer", "journey"))
