#!/usr/bin/env bash
# check-format.sh - every C and C++ source of the tree in the house style
# (.clang-format, with the compact style's own files under tools/zdxsim,
# tests/zdxsim and bench).
#
#   scripts/check-format.sh [PATH...]
#
# Checks the .c, .cpp and .h files under src/, include/, adapters/, tools/,
# tests/ and bench/ (or under the PATHs given) with clang-format --dry-run
# -Werror, which changes nothing.  Lists each file that differs and exits 1
# when there is one; exits 0 when every file is in style, 2 when
# clang-format is missing.  To put a file in style:
#   clang-format -i FILE
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT" || exit 2
CLANG_FORMAT=${CLANG_FORMAT:-clang-format}
if ! command -v "$CLANG_FORMAT" >/dev/null 2>&1; then
    echo "check-format: $CLANG_FORMAT not found (apt-get install clang-format)" >&2
    exit 2
fi

if [ $# -eq 0 ]; then
    set -- src include adapters tools tests bench
fi

differ=0
checked=0
while IFS= read -r -d '' file; do
    checked=$((checked + 1))
    if ! "$CLANG_FORMAT" --dry-run -Werror "$file" >/dev/null 2>&1; then
        echo "$file"
        differ=$((differ + 1))
    fi
done < <(find "$@" -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)

if [ "$differ" -gt 0 ]; then
    echo "check-format: $differ of $checked files differ from the house style" >&2
    exit 1
fi
echo "check-format: $checked files in style"
