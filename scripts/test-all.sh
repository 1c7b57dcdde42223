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

echo "== native tests"
native_rc=0
ctest --preset native || native_rc=$?

echo "== Windows builds under Wine"
wine_rc=0
if [ -f scripts/test-wine.sh ]; then
  bash scripts/test-wine.sh || wine_rc=$?
fi

if [ "$native_rc" -ne 0 ] || [ "$wine_rc" -ne 0 ]; then
  echo "test-all: FAILED (native $native_rc, wine $wine_rc)"
  exit 1
fi
echo "test-all: all tests passed"
