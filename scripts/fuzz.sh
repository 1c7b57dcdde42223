#!/usr/bin/env bash
# fuzz.sh - runs one fuzz target (or all) for a given time.
#
#   scripts/fuzz.sh TARGET SECONDS     TARGET: command fieldfile receive send packets telnet
#                                      frame_reader
#   scripts/fuzz.sh all SECONDS        every target, SECONDS each, one after the other
#   scripts/fuzz.sh TARGET SECONDS RUNS  stops after RUNS executions or SECONDS,
#                                      whichever comes first
#
# Builds the `fuzz` preset (clang, libFuzzer, ASan+UBSan) as needed, writes
# the seed corpus, replays the saved crash inputs of tests/fuzz/regressions/
# TARGET, then fuzzes with the growing corpus in build/fuzz/corpus/TARGET.
# A crash is saved as build/fuzz/crashes/TARGET/crash-*; copy it into
# tests/fuzz/regressions/TARGET/ once mended.  The last line per target:
#   fuzz TARGET: N executions in S s (R exec/s), crashes C, exit X
# Exit status 1 when a target crashed (or a regression input fails).
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build/fuzz
TARGETS="command fieldfile receive send packets telnet frame_reader"
[ $# -eq 2 ] || [ $# -eq 3 ] || { echo "usage: $0 TARGET|all SECONDS [RUNS]" >&2; exit 2; }
if [ "$1" = all ]; then set -- "$TARGETS" "$2"; fi
SECONDS_EACH=$2
RUNS=${3:--1}    # -1: no limit on the number of executions

cd "$ROOT"
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz >/dev/null || { echo "fuzz build failed" >&2; exit 1; }
"$BUILD/bin/fuzz_seeds" "$BUILD/seeds"

rc=0
for t in $1; do
    bin=$BUILD/bin/fuzz_$t
    [ -x "$bin" ] || { echo "no fuzz target $t" >&2; exit 2; }
    corpus=$BUILD/corpus/$t crashes=$BUILD/crashes/$t log=$BUILD/fuzz_$t.log
    mkdir -p "$corpus" "$crashes"
    reg=$ROOT/tests/fuzz/regressions/$t
    if [ -d "$reg" ] && [ -n "$(ls -A "$reg")" ]; then
        if ! "$bin" -runs=0 "$reg"/* >"$BUILD/regressions_$t.log" 2>&1; then
            echo "fuzz $t: a regression input fails (see $BUILD/regressions_$t.log)"
            rc=1
            continue
        fi
    fi
    started=$(date +%s)
    "$bin" -max_total_time="$SECONDS_EACH" -runs="$RUNS" -print_final_stats=1 -max_len=4096 -timeout=10 \
        -artifact_prefix="$crashes/" "$corpus" "$BUILD/seeds/$t" >"$log" 2>&1
    status=$?
    elapsed=$(( $(date +%s) - started ))
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    found=$(ls "$crashes" | wc -l)
    echo "fuzz $t: ${execs:-0} executions in $elapsed s (${rate:-0} exec/s), crashes $found, exit $status"
    [ "$status" = 0 ] || { rc=1; grep -m5 -E "INVARIANT|ERROR|SUMMARY" "$log"; }
done
exit $rc
