#!/usr/bin/env bash
# The installed folder runs from wherever it is copied: installs BUILD into a
# scratch folder, copies that folder to another place and removes the first,
# checks that the copy holds everything a technician gets and no path into the
# build tree, then starts the copy against controller-sim on COM1. It must
# exchange frames with the sim, write its settings beside itself, and on
# SIGTERM switch every output off and exit 0.
#
#   scripts/check-install.sh BUILD_DIR CONTROLLER_SIM
#
# Run by CTest as `install_folder_runs`; prints what failed and exits 1.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR CONTROLLER_SIM" >&2
  exit 2
fi
build="$1"
sim="$2"
work="$(mktemp -d "${TMPDIR:-/tmp}/m32install.XXXXXX")"
sim_pid=""
tool_pid=""
cleanup() {
  [ -n "$tool_pid" ] && kill -KILL "$tool_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "check-install: $*" >&2
  for f in "$work/tool.out" "$work/sim.out"; do
    [ -s "$f" ] && { echo "--- $(basename "$f"):" >&2; tail -n 20 "$f" >&2; }
  done
  exit 1
}

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
  local tenths="$1"
  shift
  for ((i = 0; i < tenths; i++)); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  "$@"
}

cmake --install "$build" --prefix "$work/installed" >/dev/null || fail "cmake --install failed"
mkdir -p "$work/elsewhere"
cp -a "$work/installed" "$work/elsewhere/merkat32"
rm -rf "$work/installed"
dir="$work/elsewhere/merkat32"

for f in merkat32 merkat32.MN1 merkat32.HLP merkat32.HL1 merkat32.desktop merkat32-icon.png; do
  [ -f "$dir/$f" ] || fail "the installed folder lacks $f"
done
[ -x "$dir/merkat32" ] || fail "merkat32 is not executable"
if readelf -d "$dir/merkat32" | grep -E 'R(UN)?PATH' | grep -q "$(cd "$build" && pwd)"; then
  fail "the executable still looks for libraries in the build tree"
fi
grep -q '^Exec=' "$dir/merkat32.desktop" || fail "the desktop entry has no Exec line"

"$sim" --dir "$dir" --port 1 --log "$work/sim.log" --no-stdin --format 8E1 >"$work/sim.out" 2>&1 &
sim_pid=$!
wait_for 100 test -L "$dir/COM1" || fail "controller-sim did not make COM1"

# From another working folder, so that nothing is found by accident.
(cd / && exec env QT_QPA_PLATFORM=offscreen "$dir/merkat32") >"$work/tool.out" 2>&1 &
tool_pid=$!

frames_in() { grep -c ' IN A2 6B' "$work/sim.log" 2>/dev/null || true; }
answers_out() { grep -c ' OUT A2 6B' "$work/sim.log" 2>/dev/null || true; }
exchanging() { [ "$(frames_in)" -ge 50 ] && [ "$(answers_out)" -ge 50 ]; }
wait_for 150 exchanging || fail "no exchange with controller-sim ($(frames_in) frames in, $(answers_out) answers)"
kill -0 "$tool_pid" 2>/dev/null || fail "the tool ended by itself"

kill -TERM "$tool_pid"
status=0
wait "$tool_pid" || status=$?
tool_pid=""
[ "$status" -eq 0 ] || fail "the tool exited with $status after SIGTERM"
last="$(grep ' IN A2 6B' "$work/sim.log" | tail -n 1 | cut -d' ' -f3-)"
[ "$last" = "A2 6B 00 00 00 00 F5 FE" ] || fail "the last frame was not all-off: $last"
size="$(stat -c %s "$dir/merkat32.CFG" 2>/dev/null || echo 0)"
[ "$size" -eq 100 ] || fail "the settings file beside the copy is $size bytes, not 100"

echo "check-install: the copied folder ran, $(frames_in) frames exchanged, all-off at the end"
