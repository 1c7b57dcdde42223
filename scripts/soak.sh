#!/usr/bin/env bash
# soak.sh - the fault-injection soak: many sessions in both directions on
# the simulated line with random line and file faults (tests/soak/soak.cpp).
#
#   scripts/soak.sh [SESSIONS [SEED]] [--asan]
#
# Default 100000 sessions from seed 1.  --asan runs the sanitizer build
# (native-asan preset), where LeakSanitizer checks the heap at exit.
# Prints the table of sessions per fault kind and results per code, and
# every invariant violation with the seed that repeats it:
#   build/native/bin/orv5_soak --seed S --sessions 1 --verbose
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
PRESET=native SESSIONS=100000 SEED=1 n=0
for a in "$@"; do
    case $a in
        --asan) PRESET=native-asan ;;
        *) n=$((n + 1)); [ $n = 1 ] && SESSIONS=$a || SEED=$a ;;
    esac
done
cd "$ROOT"
cmake --preset "$PRESET" >/dev/null && cmake --build "build/$PRESET" --target orv5_soak -j2 >/dev/null \
    || { echo "soak build failed" >&2; exit 1; }
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
start=$(date +%s)
"build/$PRESET/bin/orv5_soak" --sessions "$SESSIONS" --seed "$SEED"
rc=$?
echo "soak: $SESSIONS sessions in $(( $(date +%s) - start )) s, exit $rc"
exit $rc
