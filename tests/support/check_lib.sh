# check_lib.sh - counted checks for the test scripts; sourced by
# tests/e2e/e2e_lib.sh and tests/wine/lib.sh.  Safe under set -euo pipefail.
#
#   check NAME CONDITION [-- CONDITION]...
#
# One check, reported as "PASS: NAME" or "FAIL: NAME (why; context)".  Each
# condition is a command with its arguments, run as it is (no eval): one of
# the predicates below or a function of the script.  The check passes when
# every condition holds; the first that fails is named with what it saw.
# The sourcing script defines check_context, which prints what else helps
# to read a failure (result code, the terminal's summary, the host's log).
#
#   check "data file: result 0" is rc "$RC" 0 -- same_file "$A" "$B"

PASSED=0
FAILED=0
WHY=                  # what a failing predicate saw

pass() { PASSED=$((PASSED + 1)); echo "PASS: $1"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL: $1${2:+ ($2)}"; }

check() {
    local name=$1
    shift
    local cond=()
    while [ $# -gt 0 ]; do
        cond=()
        while [ $# -gt 0 ] && [ "$1" != -- ]; do
            cond+=("$1")
            shift
        done
        if [ $# -gt 0 ]; then shift; fi
        WHY=
        if ! "${cond[@]}"; then
            fail "$name" "${WHY:-failed: ${cond[*]}}; $(check_context)"
            return 0
        fi
    done
    pass "$name"
}

# ---- predicates: each sets WHY when it does not hold ----------------------

# is WHAT ACTUAL EXPECTED: the two texts are equal.
is() {
    [ "$2" = "$3" ] && return 0
    WHY="$1 is '$2', wanted '$3'"
    return 1
}

# at_least WHAT ACTUAL MIN: ACTUAL is a number >= MIN.
at_least() {
    [[ $2 =~ ^-?[0-9]+$ ]] && [ "$2" -ge "$3" ] && return 0
    WHY="$1 is '$2', wanted at least $3"
    return 1
}

# same_file A B: the two files hold the same bytes.
same_file() {
    cmp -s "$1" "$2" && return 0
    WHY="$1 differs from $2"
    return 1
}

# has_line FILE REGEX: some line of FILE matches the extended REGEX.
has_line() {
    grep -qE -- "$2" "$1" 2>/dev/null && return 0
    WHY="no line of $(basename "$1") matches /$2/"
    return 1
}

# nonempty FILE: FILE exists and is not empty.
nonempty() {
    [ -s "$1" ] && return 0
    WHY="$1 is missing or empty"
    return 1
}

# wine_holds PATH: a Wine process (the server or a Windows program) has
# PATH open.  Wine opens a device in the server and hands the descriptor
# to the program; looking at those processes only keeps the scan short.
wine_holds() {
    local p
    for p in $(pgrep -f 'wineserver|\.exe' || true); do
        ls -l /proc/"$p"/fd 2>/dev/null | grep -q -- "-> $1$" && return 0
    done
    return 1
}
