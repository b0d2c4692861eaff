#!/usr/bin/env bash
# The main job: builds the installer and runs it under Wine on a virtual display.
# Shows where its window, screenshot and setup log are; closes the window after a look
# (or, with --wait, when you close it yourself, e.g. through a VNC viewer on the display).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset win64 >/dev/null && cmake --build --preset win64 -j2
cmake --preset win32 >/dev/null && cmake --build --preset win32 -j2
exec python3 scripts/run_installer.py "$@"
