#!/usr/bin/env bash
# Retakes docs/panel.png: the live panel under Xvfb against controller-sim,
# with outputs switched from the keyboard, inputs mirrored and the A/D value
# shown (A/D mode 2). Usage: scripts/screenshot.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
out=docs/panel.png
work=$(mktemp -d)
sim_pid="" app_pid="" xvfb_pid=""
cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp "$build/src/app/exe/merkat32" "$work/"
cp data/merkat32.* "$work/"
# Settings: defaults (9600 8E1, COM1) with the A/D mode (constant 3) set to 2.
python3 - "$work/merkat32.CFG" <<'PY'
import struct, sys
rec = bytearray(100)
struct.pack_into('<I', rec, 0, 12)
struct.pack_into('<h', rec, 4 + 2 * 3, 2)
rec[85], rec[86], rec[87] = 8, ord('E'), 1
open(sys.argv[1], 'wb').write(rec)
PY
Xvfb :57 -screen 0 800x640x24 -nolisten tcp >/dev/null 2>&1 & xvfb_pid=$!
export DISPLAY=:57
sleep 1
(openbox >/dev/null 2>&1 &)
sleep 1
"$build/tools/controller-sim/controller-sim" --dir "$work" --port 1 --mode adc --adc 4660 \
  --format 8E1 --no-stdin >/dev/null 2>&1 & sim_pid=$!
for _ in $(seq 50); do [[ -e $work/COM1 ]] && break; sleep 0.1; done
# The first start writes the language template; the second shows its texts.
(cd "$work" && exec ./merkat32 >/dev/null 2>&1) & app_pid=$!
for _ in $(seq 50); do [[ -e $work/merkat32.MNU ]] && break; sleep 0.1; done
sleep 1
kill "$app_pid"; wait "$app_pid" || true
(cd "$work" && exec ./merkat32 >/dev/null 2>&1) & app_pid=$!
sleep 3
wid=$(xdotool search --name "M e r k a t" | head -1)
xdotool windowactivate --sync "$wid"
xdotool key space Tab Tab space Tab Tab Tab Tab Tab space Tab Tab space
sleep 1
import -window "$wid" "$out"
echo "wrote $out"
