#!/usr/bin/env bash
# The main job: installs the packages, builds the win64 program and follows one whole install
# under Wine on a virtual display: a local HTTPS server serves a stand-in installer, the script
# presses Install, prints the progress, presses Start Now on the finish view and prints the
# setup log, the server's requests, what was installed and started, and a screenshot per view.
#   scripts/run.sh [--build DIR] [--seconds S] [--vnc [PORT]] [--wait]
# --build: the win64 build folder (default build/win64); the rest: scripts/run_installer.py.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/win64
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --build=*) build=${1#--build=}; shift ;;
    *) args+=("$1"); shift ;;
  esac
done
bash scripts/deps.sh
cmake --preset win64 -B "$build" >/dev/null
cmake --build "$build" -j2
exec python3 scripts/run_installer.py --build "$build" "${args[@]}"
