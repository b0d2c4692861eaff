#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the benchmark and scripts/run.sh need.
# Idempotent: packages already present are left alone and apt-get is skipped.
set -euo pipefail
pkgs=(cmake ninja-build g++ clang-14 libclang-rt-14-dev libgtest-dev nlohmann-json3-dev mingw-w64
      wine wine64 xvfb xdotool x11-utils imagemagick fonts-wqy-microhei
      openssl nginx python3 curl file binutils x11vnc osslsigncode zopfli)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
