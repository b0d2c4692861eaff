#!/usr/bin/env bash
# Runs every test: native unit tests, the Windows build under Wine (worker, sender, the
# installer end to end), and the checks of the 32-bit release program file.
# Installs what it needs first (Debian packages, idempotent).
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh || exit 1

pass=0; fail=0; status=0
run_preset() {
  local preset=$1; shift
  local configure=()
  if [ "$preset" = win32 ]; then
    # The release build signs its program with a certificate made for this run only.
    bash scripts/test-signing-cert.sh build/signing
    configure=(-DQV_SIGN_CERT="$PWD/build/signing/cert.pem" -DQV_SIGN_KEY="$PWD/build/signing/key.pem"
               -DQV_SIGN_CA="$PWD/build/signing/ca.pem")
  fi
  echo "==== $preset: configure and build"
  local t0=$SECONDS
  if ! { cmake --preset "$preset" "${configure[@]}" >/dev/null && cmake --build --preset "$preset" -j2; }; then
    echo "==== $preset: BUILD FAILED"; status=1; fail=$((fail + 1)); return
  fi
  echo "==== $preset: built in $((SECONDS - t0)) s; testing"
  t0=$SECONDS
  local log; log=$(mktemp)
  ctest --preset "$preset" "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line; line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$line" ]; then
    local total failed
    failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    pass=$((pass + total - failed)); fail=$((fail + failed))
  else
    fail=$((fail + 1))
  fi
  [ "$rc" -eq 0 ] || status=1
  echo "==== $preset: tested in $((SECONDS - t0)) s"
  rm -f "$log"
}

run_preset native -j2
# The unit tests again under the sanitizers, and the parsers of outside input under libFuzzer.
run_preset asan -j2
run_preset tsan -j2
run_preset fuzz -j2
run_preset win64 -j2
run_preset win32

echo
echo "all presets: $pass passed, $fail failed"
exit $status
