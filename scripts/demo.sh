#!/usr/bin/env bash
# The main job: send a sample stock list to the terminal simulator over a
# pseudo-terminal, with the progress line on the terminal, and show what
# the simulated terminal received.  Builds the native preset if needed.
#   scripts/demo.sh [FILE] [extra command-text options...]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -x build/native/bin/orvw ] || [ ! -x build/native/bin/zdxsim ]; then
  command -v cmake >/dev/null && dpkg -s libgtest-dev >/dev/null 2>&1 || bash scripts/setup-debian.sh
  cmake --preset native >/dev/null
  cmake --build --preset native --target orvw zdxsim
fi

file=${1:-samples/STOCK.TXT}
shift || true
out=$(mktemp -d /tmp/zdxsim-out.XXXXXX)
log=$out/zdxsim.log

# 19200 bit/s, paced like a real line, so the progress can be watched.
build/native/bin/zdxsim --pty --baud 19200 --out "$out" --timeout 30 >"$log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do grep -q '^PTY ' "$log" && break; sleep 0.1; done
pty=$(sed -n 's/^PTY //p' "$log" | head -n 1)
[ -n "$pty" ] || { echo "demo: zdxsim did not start"; cat "$log"; exit 1; }

echo "demo: sending $file to the simulated terminal on $pty"
rc=0
build/native/bin/orvw --device="$pty" --verbose -B19200 "$@" "$file" || rc=$?
wait $sim || true
trap - EXIT
echo "demo: orvw exit status $rc"
echo "demo: the terminal's summary:"
grep '^{' "$log" || cat "$log"
echo "demo: records received are in $out"
exit $rc
