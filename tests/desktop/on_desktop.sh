#!/usr/bin/env bash
# Runs a command on a desktop of its own: a private X server (Xvfb) with a
# window manager (openbox), so that windows get real frames, placement and
# activation. Exits 77 (skipped) when one of the tools is missing.
set -u
for tool in Xvfb openbox xdotool xwininfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed"
    exit 77
  fi
done
work=$(mktemp -d)
xvfb="" openbox=""
cleanup() {
  [[ -n $openbox ]] && kill "$openbox" 2>/dev/null
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number to the given descriptor.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 150); do
  [[ -s $work/display ]] && break
  sleep 0.1
done
number=$(tr -dc '0-9' <"$work/display")
if [[ -z $number ]]; then
  echo "Xvfb did not start:" && cat "$work/xvfb.log"
  exit 1
fi
export DISPLAY=":$number"
openbox >/dev/null 2>"$work/openbox.log" &
openbox=$!
# openbox is up once it announces its desktops on the root window.
for _ in $(seq 100); do
  desktops=$(xdotool get_num_desktops 2>/dev/null)
  [[ -n $desktops && $desktops != 0 ]] && break
  sleep 0.1
done
QT_QPA_PLATFORM=xcb "$@"
