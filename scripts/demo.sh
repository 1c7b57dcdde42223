#!/usr/bin/env bash
# The main job, both directions over a pseudo-terminal to the terminal
# simulator, with the progress line on the terminal:
#   1. send a sample stock list to the simulated terminal;
#   2. receive it back from the simulator, now playing a terminal that
#      sends, into a fresh folder;
#   3. show that the file and its field layout came back unchanged.
# Builds the native preset if needed.
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
work=$(mktemp -d /tmp/orv5-demo.XXXXXX)
sim=

# start_zdxsim LOG [options]: the simulator on a new pty, paced at 19200
# bit/s like a real line so the progress can be watched; sets pty.
start_zdxsim() {
  local log=$1; shift
  build/native/bin/zdxsim --pty --baud 19200 --timeout 30 "$@" >"$log" 2>&1 &
  sim=$!
  for _ in $(seq 50); do grep -q '^PTY ' "$log" && break; sleep 0.1; done
  pty=$(sed -n 's/^PTY //p' "$log" | head -n 1)
  [ -n "$pty" ] || { echo "demo: zdxsim did not start"; cat "$log"; exit 1; }
}
trap '[ -z "$sim" ] || kill $sim 2>/dev/null || true' EXIT

echo "demo: 1. sending $file to the simulated terminal"
mkdir -p "$work/terminal"
start_zdxsim "$work/send.log" --out "$work/terminal"
rc=0
build/native/bin/orvw --device="$pty" --verbose -B19200 "$@" "$file" || rc=$?
wait $sim || true
echo "demo: orvw exit status $rc; the terminal's summary:"
grep '^{' "$work/send.log" || cat "$work/send.log"
[ "$rc" = 0 ] || exit $rc

name=$(basename "$file")
base=${name%.*}
echo
echo "demo: 2. receiving it back from the simulated terminal into $work/received"
mkdir -p "$work/received"
start_zdxsim "$work/receive.log" --send "$file"
(cd "$work/received" && "$OLDPWD/build/native/bin/orvw" --device="$pty" --verbose -B19200 +R '(file)') || rc=$?
wait $sim || true
sim=
echo "demo: orvw exit status $rc; the terminal's summary:"
grep '^{' "$work/receive.log" || cat "$work/receive.log"
[ "$rc" = 0 ] || exit $rc

echo
echo "demo: 3. comparing"
received=$(ls "$work/received" | grep -ix -- "$name" | head -n 1)
if cmp -s "$file" "$work/received/$received"; then
  echo "demo: $name came back byte for byte ($(wc -c <"$file") bytes, $(wc -l <"$file") records)"
else
  echo "demo: $name differs after the round trip"; rc=1
fi
echo "demo: the field layout written beside it ($work/received/$base.FLD):"
sed 's/\r$//' "$work/received/$base.FLD" | sed 's/^/    /'
exit $rc
