#!/usr/bin/env bash
# The test command: on a fresh Debian machine, installs what is missing,
# builds the native, win64 and win32 presets and runs every test: unit and
# session tests, the POSIX platform and API tests, orvw against zdxsim over
# pseudo-terminals, and the Windows builds under Wine (with the window
# tests under Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh

for preset in native win64 win32; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

echo "== native tests"
native_rc=0
ctest --preset native 2>&1 | tee "$logs/ctest.log" || native_rc=$?

echo "== Windows builds under Wine"
wine_rc=0
# Into a file, not a pipe: Wine's background processes could hold a pipe
# open after the run.
bash scripts/test-wine.sh >"$logs/wine.log" 2>&1 || wine_rc=$?
cat "$logs/wine.log"

# One closing count over both runs.
read -r n_total n_failed < <(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' "$logs/ctest.log" | tail -n 1)
read -r w_passed w_failed < <(sed -n 's/^wine: \([0-9]*\) passed, \([0-9]*\) failed.*/\1 \2/p' "$logs/wine.log" | tail -n 1)
passed=$(( ${n_total:-0} - ${n_failed:-0} + ${w_passed:-0} ))
failed=$(( ${n_failed:-0} + ${w_failed:-0} ))
if [ "$native_rc" -ne 0 ] || [ "$wine_rc" -ne 0 ]; then
  [ "$failed" -gt 0 ] || failed=1
  echo "test-all: FAILED (native status $native_rc, wine status $wine_rc)"
  echo "$passed passed, $failed failed"
  exit 1
fi
echo "$passed passed, $failed failed"
