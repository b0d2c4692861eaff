"""Runs the win64 build of the installer under Wine (Xvfb display, fresh prefix state kept in
build/run), takes a screenshot of its window, closes it and prints the setup log."""
import os
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "harness"))
BUILD = ROOT / "build" / "win64"
RUN = ROOT / "build" / "run"
os.environ["QV_WINE_STATE"] = str(RUN / "state.json")
os.environ["QV_BUILD_DIR"] = str(BUILD)

import wineenv  # noqa: E402
import installer  # noqa: E402


def main():
    wait = "--wait" in sys.argv
    wineenv.start(RUN / "state.json", BUILD / "tests" / "wine" / "qvtool.exe")
    try:
        installer.reset_log()
        t0 = time.time()
        p = installer.start()
        print(f"window shown {time.time() - t0:.2f} s after start: {installer.window_state()}")
        time.sleep(1)
        shot = RUN / "window.png"
        subprocess.run(["import", "-window", "root", str(shot)], env=wineenv.env(), check=False)
        print(f"screenshot: {shot}")
        if wait:
            print("close the installer window to finish")
            p.wait()
        else:
            installer.close(p)
        print(f"installer exited with code {p.returncode}")
        print(f"setup log {installer.log_path()}:")
        print(installer.log_path().read_bytes().decode("utf-8-sig"), end="")
        return p.returncode
    finally:
        wineenv.stop(RUN / "state.json")


if __name__ == "__main__":
    sys.exit(main())
