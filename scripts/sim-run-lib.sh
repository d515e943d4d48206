# Shared by scripts/check-install.sh and scripts/check-deb.sh (sourced): start
# controller-sim on COM1 in a folder, start a tool against it, check that the
# two exchange frames, end the tool with SIGTERM and check that its last frame
# switched every output off. The caller sets `work` (a scratch folder) and
# `sim` (the controller-sim binary) and calls sim_cleanup from its EXIT trap.
# shellcheck shell=bash

sim_pid=""
tool_pid=""
xvfb_pid=""
sim_cleanup() {
  [ -n "$tool_pid" ] && kill -KILL "$tool_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill -TERM "$xvfb_pid" 2>/dev/null
  sim_pid=""
  tool_pid=""
  xvfb_pid=""
}

fail() {
  echo "${check_name:-check}: $*" >&2
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

# start_sim DIR: controller-sim makes DIR/COM1 (8E1, 9600 Bd) and logs frames.
start_sim() {
  "$sim" --dir "$1" --port 1 --log "$work/sim.log" --no-stdin --format 8E1 >"$work/sim.out" 2>&1 &
  sim_pid=$!
  wait_for 100 test -L "$1/COM1" || fail "controller-sim did not make COM1"
}

# stop_sim: ends controller-sim, which removes its COM1 link.
stop_sim() {
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  sim_pid=""
}

# A private X server for the tool when Xvfb is there (sets DISPLAY); else Qt's
# offscreen platform.
start_desk() {
  if command -v Xvfb >/dev/null; then
    local n
    for n in $(seq 200 260); do
      [ -e "/tmp/.X$n-lock" ] && continue
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.out" 2>&1 &
      xvfb_pid=$!
      if wait_for 50 test -e "/tmp/.X11-unix/X$n"; then
        export DISPLAY=":$n"
        unset QT_QPA_PLATFORM
        return 0
      fi
      kill "$xvfb_pid" 2>/dev/null
      xvfb_pid=""
    done
  fi
  export QT_QPA_PLATFORM=offscreen
}

# start_tool CMD...: from /, so that nothing is found by accident.
start_tool() {
  (cd / && exec "$@") >"$work/tool.out" 2>&1 &
  tool_pid=$!
}

frames_in() { grep -c ' IN A2 6B' "$work/sim.log" 2>/dev/null || true; }
answers_out() { grep -c ' OUT A2 6B' "$work/sim.log" 2>/dev/null || true; }
exchanging() { [ "$(frames_in)" -ge 50 ] && [ "$(answers_out)" -ge 50 ]; }

# check_exchange_and_close: frames both ways, then SIGTERM: exit 0, all off.
check_exchange_and_close() {
  wait_for 150 exchanging || fail "no exchange with controller-sim ($(frames_in) frames in, $(answers_out) answers)"
  kill -0 "$tool_pid" 2>/dev/null || fail "the tool ended by itself"
  kill -TERM "$tool_pid"
  local status=0
  wait "$tool_pid" || status=$?
  tool_pid=""
  [ "$status" -eq 0 ] || fail "the tool exited with $status after SIGTERM"
  local last
  last="$(grep ' IN A2 6B' "$work/sim.log" | tail -n 1 | cut -d' ' -f3-)"
  [ "$last" = "A2 6B 00 00 00 00 F5 FE" ] || fail "the last frame was not all-off: $last"
}

# check_settings_file FILE: the tool wrote its 100-byte settings there.
check_settings_file() {
  local size
  size="$(stat -c %s "$1" 2>/dev/null || echo 0)"
  [ "$size" -eq 100 ] || fail "the settings file $1 is $size bytes, not 100"
}
