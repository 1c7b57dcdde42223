#!/usr/bin/env bash
# test-wine.sh - runs the Windows builds of Orv5w32.dll under Wine.
#
# Prepares once (the modem-line shim, the Wine prefix, one Wine server),
# then, for build/win64 and build/win32 in turn, runs every case file
# tests/wine/test_*.sh (tests/wine/lib.sh describes them): the test host's
# port-free suite, sessions on COM5 against the terminal simulator over a
# pseudo-terminal, the progress window under a fresh Xvfb per case.
# Screenshots go to build/artifacts/.  The last line is
# "wine: N passed, N failed" (", N skipped" after it when a build cannot
# run on this machine); the exit status is non-zero on any failure.
#
# Needs: the three presets built (native gives zdxsim), wine with wine32,
# Xvfb, xdotool, imagemagick (import), gcc with -m32 support (gcc-multilib).
# Build folders can be overridden with NATIVE_DIR, WIN64_DIR, WIN32_DIR.

set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tests/wine/lib.sh"
trap cleanup EXIT
trap 'exit 130' INT TERM

need_tools
rm -rf "$WINE_OUT/work"
mkdir -p "$WINE_OUT/work" "$ARTIFACTS"
rm -f "$ARTIFACTS"/wine-*.png "$ARTIFACTS"/wine-*.log

pick_wine
prepare_shims
prepare_prefix
start_server

run_build win64 "$WIN64_DIR"
run_build win32 "$WIN32_DIR"
finish
