#!/usr/bin/env bash
# mutate.sh - the mutation check: plants one small fault at a time in a
# scratch copy of the tree and sees whether the native tests notice.
#
#   scripts/mutate.sh [--fast] [--all] [--no-baseline] [--limit S] [NAME...]
#
# NAME: a mutant's file name under tests/mutants/ without ".mut", or a part
# of it ("crc" runs every mutant whose name holds "crc"); none: all of them.
#   --fast         stop each mutant at its first failing test
#   --all          run the mutants marked equivalent too (not counted)
#   --no-baseline  skip the run of the unchanged tree (it must pass: a test
#                  that fails anyway would count every mutant as killed)
#   --limit S      time limit of one mutant's test run, seconds (default 900)
#   --check        only see that every mutant applies (no build, no tests)
#   --exclude RE   never run the tests matching the ctest regex RE (a test
#                  being rewritten, or one known to be flaky)
#
# A failure counts only when it repeats: the failed tests run once more on
# the same mutant, and a mutant none of whose failures repeat is reported
# as survived, with the tests that failed once.
#
# A mutant file (tests/mutants/NN-short-name.mut):
#
#   # what goes wrong, one line
#   file: src/link/wire.cpp
#   tests: unit_regex            (optional: ctest -R regex of likely killers,
#                                 run before the rest of the tests)
#   equivalent: why              (optional: no test can tell it apart)
#   @@ search
#   exact text, one or more lines
#   @@ replace
#   the faulty text
#   @@ end
#
# The search text must occur exactly once in the file, else the mutant
# "does not apply" and is not counted.  The scratch tree is
# build/mutate/tree with its own build folder build/mutate/build (the
# native preset's settings), configured once and rebuilt incrementally.
# Per mutant it prints killed (with the failed tests), survived,
# build-error (a mutant that does not compile is no plausible fault: fix
# it; not counted) or does not apply; at the end the counts and the kill
# rate over the applicable, non-equivalent mutants.  Logs per mutant are in
# build/mutate/logs/.  Exit status 1 when a mutant survived.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=$ROOT/build/mutate
TREE=$WORK/tree
BUILD=$WORK/build
LOGS=$WORK/logs
MUTANTS=$ROOT/tests/mutants
FAST=0 RUN_EQUIV=0 BASELINE=1 LIMIT=900 CHECK=0 EXCLUDE=
PER_TEST=180     # one test, seconds: a hang is a failure
NAMES=()
while [ $# -gt 0 ]; do
    case $1 in
        --fast) FAST=1 ;;
        --all) RUN_EQUIV=1 ;;
        --no-baseline) BASELINE=0 ;;
        --check) CHECK=1 ;;
        --exclude) shift; EXCLUDE=${1:?--exclude needs a regex} ;;
        --limit) shift; LIMIT=${1:?--limit needs seconds} ;;
        -h|--help) sed -n '2,35p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        -*) echo "mutate.sh: unknown option $1" >&2; exit 2 ;;
        *) NAMES+=("$1") ;;
    esac
    shift
done

# Every target is built: a list of the test programs goes stale whenever a
# test program is added, and its tests then fail as "not built" on the
# unchanged tree.  The soak, long-run and benchmark programs only relink.

mkdir -p "$TREE" "$LOGS"

# Takes a snapshot of the work tree (tracked and new files) into
# $WORK/pristine, so that edits made while a run goes on do not reach it.
snapshot() {
    local list=$WORK/files.txt f
    (cd "$ROOT" && git ls-files -co --exclude-standard) | grep -v '^build/' | sort >"$list"
    rm -rf "$WORK/pristine"
    mkdir -p "$WORK/pristine"
    while IFS= read -r f; do
        [ -f "$ROOT/$f" ] || continue
        mkdir -p "$(dirname "$WORK/pristine/$f")"
        cp "$ROOT/$f" "$WORK/pristine/$f"
    done <"$list"
}

# Makes the scratch tree equal to the snapshot.  Only files whose content
# differs are copied, and they get a fresh time, so make rebuilds exactly
# what changed, a mutated file put back included.
sync_tree() {
    local list=$WORK/files.txt f
    while IFS= read -r f; do
        [ -f "$WORK/pristine/$f" ] || continue
        if ! cmp -s "$WORK/pristine/$f" "$TREE/$f"; then
            mkdir -p "$(dirname "$TREE/$f")"
            cp "$WORK/pristine/$f" "$TREE/$f"
        fi
    done <"$list"
    # Files gone from the work tree go from the copy too.
    (cd "$TREE" && find . -type f | sed 's|^\./||' | sort) | comm -23 - "$list" |
        while IFS= read -r f; do rm -f "$TREE/$f"; done
}

# Field of a mutant file: "file", "tests", "equivalent".
field() {
    sed -n "/^@@ /q; s/^$2:[[:space:]]*//p" "$1" | head -n 1
}

# Applies mutant $1 to the file under folder $2 (default: the scratch
# tree).  0 applied, 1 does not apply.
apply_mutant() {
    local target=${2:-$TREE}/$(field "$1" file)
    [ -f "$target" ] || return 1
    perl -e '
        my ($mut, $target) = @ARGV;
        open(my $m, "<", $mut) or exit 1;
        my ($mode, @s, @r) = ("");
        while (my $l = <$m>) {
            chomp $l;
            if ($l eq "@@ search") { $mode = "s"; next }
            if ($l eq "@@ replace") { $mode = "r"; next }
            if ($l eq "@@ end") { last }
            push @s, $l if $mode eq "s";
            push @r, $l if $mode eq "r";
        }
        my ($search, $replace) = (join("\n", @s), join("\n", @r));
        exit 1 if $search eq "" || $mode ne "r";
        open(my $f, "<", $target) or exit 1;
        local $/; my $text = <$f>; close $f;
        my $count = () = $text =~ /\Q$search\E/g;
        exit 1 if $count != 1;
        my $at = index($text, $search);
        substr($text, $at, length $search) = $replace;
        open(my $o, ">", $target) or exit 1;
        print $o $text; close $o;
        exit 0;
    ' "$1" "$target"
}

build_tree() {
    cmake --build "$BUILD" -j2 >"$1" 2>&1
}

# The failed tests' names on one line, without their numbers.
shown() {
    echo $(echo "$1" | sed 's/^[0-9]*://' | sort -u)
}

# Runs ctest on the scratch build, appending to log $1; extra arguments go
# to ctest.  Prints the failed tests (one per line); status 1 when any
# failed, 2 when the time limit ended the run.
run_ctest() {
    local log=$1 failed=$BUILD/Testing/Temporary/LastTestsFailed.log rc
    shift
    rm -f "$failed"
    local stop=()
    [ $FAST = 1 ] && stop=(--stop-on-failure)
    timeout -k 10 "$LIMIT" ctest --test-dir "$BUILD" -j2 --timeout "$PER_TEST" \
        --output-on-failure "${stop[@]}" "$@" >>"$log" 2>&1
    rc=$?
    # "NUMBER:NAME"; a parameterised test's name loses its "# GetParam()"
    # note, which shows addresses that differ from build to build.
    [ -f "$failed" ] && sed 's/  *# GetParam.*//' "$failed"
    if [ $rc = 124 ] || [ $rc = 137 ]; then
        echo "(time limit ${LIMIT}s)"
        return 2
    fi
    [ $rc = 0 ] && return 0
    return 1
}

# The mutants to run.
MUTS=()
for m in "$MUTANTS"/*.mut; do
    [ -f "$m" ] || continue
    name=$(basename "$m" .mut)
    if [ ${#NAMES[@]} -gt 0 ]; then
        hit=0
        for n in "${NAMES[@]}"; do
            case $name in *"$n"*) hit=1 ;; esac
        done
        [ $hit = 1 ] || continue
    fi
    MUTS+=("$m")
done
[ ${#MUTS[@]} -gt 0 ] || { echo "mutate: no mutant matches" >&2; exit 2; }

if [ $CHECK = 1 ]; then
    scratch=$(mktemp -d) bad=0
    for m in "${MUTS[@]}"; do
        f=$(field "$m" file)
        mkdir -p "$scratch/$(dirname "$f")"
        if [ -z "$f" ] || ! cp "$ROOT/$f" "$scratch/$f" 2>/dev/null || ! apply_mutant "$m" "$scratch" \
            || cmp -s "$ROOT/$f" "$scratch/$f"; then
            printf '%-34s does not apply to %s\n' "$(basename "$m" .mut)" "${f:-(no file:)}"
            bad=$((bad + 1))
        fi
    done
    rm -rf "$scratch"
    echo "mutate: ${#MUTS[@]} mutants, $bad do not apply"
    [ $bad = 0 ]
    exit
fi

echo "mutate: preparing $TREE"
snapshot
sync_tree
# Configured again on every run: a test file or target added since the last
# one must be known before the targets are named.
if [ -f "$BUILD/CMakeCache.txt" ]; then
    cmake "$BUILD" >"$LOGS/configure.log" 2>&1
else
    cmake -S "$TREE" -B "$BUILD" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        >"$LOGS/configure.log" 2>&1
fi || { echo "mutate: configure failed ($LOGS/configure.log)" >&2; exit 2; }
start_all=$(date +%s)
if ! build_tree "$LOGS/baseline-build.log"; then
    echo "mutate: the unchanged tree does not build ($LOGS/baseline-build.log)" >&2
    exit 2
fi
if [ $BASELINE = 1 ]; then
    t0=$(date +%s)
    : >"$LOGS/baseline.log"
    if ! out=$(FAST=0 run_ctest "$LOGS/baseline.log"); then
        echo "mutate: the unchanged tree fails its tests:" >&2
        echo "$out" | sed 's/^/  /' >&2
        exit 2
    fi
    echo "mutate: baseline passes in $(( $(date +%s) - t0 )) s"
fi

killed=0 survived=0 build_errors=0 not_applied=0 equivalent=0
SURVIVORS=()
for m in "${MUTS[@]}"; do
    name=$(basename "$m" .mut)
    equiv=$(field "$m" equivalent)
    if [ -n "$equiv" ] && [ $RUN_EQUIV = 0 ]; then
        printf '%-34s equivalent (not run): %s\n' "$name" "$equiv"
        equivalent=$((equivalent + 1))
        continue
    fi
    log=$LOGS/$name.log
    : >"$log"
    t0=$(date +%s)
    sync_tree   # puts back what the last mutant changed
    if ! apply_mutant "$m"; then
        printf '%-34s does not apply (search text not found exactly once in %s)\n' \
            "$name" "$(field "$m" file)"
        not_applied=$((not_applied + 1))
        continue
    fi
    if ! build_tree "$log"; then
        printf '%-34s build-error (see %s)\n' "$name" "$log"
        build_errors=$((build_errors + 1))
        continue
    fi
    likely=$(field "$m" tests)
    failed="" status=0
    if [ -n "$likely" ]; then
        skip=()
        [ -n "$EXCLUDE" ] && skip=(-E "$EXCLUDE")
        failed=$(run_ctest "$log" -R "$likely" "${skip[@]}")
        status=$?
    fi
    if [ $status = 0 ] || [ $FAST = 0 ]; then
        skip=()
        if [ -n "$likely" ] && [ -n "$EXCLUDE" ]; then
            skip=(-E "($likely)|($EXCLUDE)")
        elif [ -n "$likely$EXCLUDE" ]; then
            skip=(-E "$likely$EXCLUDE")
        fi
        more=$(run_ctest "$log" "${skip[@]}")
        s=$?
        [ $s != 0 ] && status=$s
        failed=$(printf '%s\n%s' "$failed" "$more" | sed '/^$/d')
    fi
    once=""
    if [ $status = 1 ]; then
        # The failures must repeat: a test that fails now and then under
        # load is no evidence.
        # By name, without the "# GetParam()" note that a parameterised
        # test's name carries (it shows addresses, and characters a pattern
        # reads as its own); test numbers are no help: they change when
        # the tests are discovered again.
        names=$(echo "$failed" | sed 's/^[0-9]*://; s/\./\\./g' | sort -u | paste -sd'|')
        echo "--- the failed tests once more" >>"$log"
        again=$(FAST=0 run_ctest "$log" -R "^($names)(  #|\$)")
        if [ -z "$again" ]; then
            once=$failed
            status=0
        else
            failed=$again
        fi
    fi
    secs=$(( $(date +%s) - t0 ))
    if [ -n "$equiv" ]; then
        printf '%-34s equivalent, ran: %s (%s s)\n' "$name" \
            "$([ $status = 0 ] && echo survived || echo "killed: $(shown "$failed")")" "$secs"
        equivalent=$((equivalent + 1))
    elif [ $status = 0 ]; then
        printf '%-34s survived (%s s)%s\n' "$name" "$secs" \
            "$([ -n "$once" ] && echo "; failed once, not again: $(shown "$once")")"
        survived=$((survived + 1))
        SURVIVORS+=("$name")
    else
        printf '%-34s killed (%s s): %s\n' "$name" "$secs" "$(shown "$failed")"
        killed=$((killed + 1))
    fi
done
sync_tree   # leave the copy unmutated

counted=$((killed + survived))
rate=n/a
[ $counted -gt 0 ] && rate=$(awk -v k=$killed -v n=$counted 'BEGIN { printf "%.1f %%", 100 * k / n }')
echo "mutate: ${#MUTS[@]} mutants: $killed killed, $survived survived, $build_errors build-error," \
     "$not_applied do not apply, $equivalent equivalent; kill rate $rate; $(( $(date +%s) - start_all )) s"
[ ${#SURVIVORS[@]} -gt 0 ] && echo "mutate: survivors: ${SURVIVORS[*]}"
[ $survived = 0 ]
