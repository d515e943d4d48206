#!/usr/bin/env bash
# Builds the Windows test programs (mingw preset) and runs them under wine,
# each COM port a pseudo-terminal with controller-sim at its far end:
#   COM1  controller-sim --loopback (the serial device tests)
#   COM2  controller-sim in mirror mode (the link test)
#   COM3  controller-sim --loopback that hangs up after a few seconds (the
#         hang-up test, run on its own)
# One wineserver for the whole run, in a wine prefix of its own under
# build/mingw. A pseudo-terminal has no modem lines; modem_lines_preload.so
# (built here for the host) answers wine's questions about them.
# When scripts/build-windows.sh has built Qt for Windows (its cache exists),
# the whole program is built too and run under wine on a private X server
# against controller-sim on COM1: it must put all-off frames on the line at
# 9600 Bd and write its settings file; then, with out1 switched on, the
# session's end (wineboot --end-session) must leave all-off as the last frame
# and the settings file written.
# Usage: tests/wine/run-wine-tests.sh [path/to/controller-sim]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
start=$SECONDS

for tool in x86_64-w64-mingw32-g++-posix wine wineserver cc; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/setup.sh" >&2; exit 1; }
done

sim=${1:-build/dev/tools/controller-sim/controller-sim}
if [[ ! -x $sim ]]; then
  cmake --preset dev >/dev/null
  cmake --build --preset dev --target controller-sim
fi
sim=$(realpath "$sim")

cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$(nproc)"
tests_dir=$root/build/mingw/tests/wine

work=$root/build/mingw/wine-run
mkdir -p "$work"
preload=$work/modem_lines_preload.so
cc -O2 -Wall -Wextra -Werror -shared -fPIC -o "$preload" tests/wine/modem_lines_preload.c -ldl

export WINEPREFIX=$root/build/mingw/wine-prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
export WINEARCH=win64
wine=$(command -v wine)  # Debian: starts wine64 when there is no 32-bit wine

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT

mkdir -p "$WINEPREFIX"
wineserver -k 2>/dev/null || true  # a server left over from an earlier run
wineserver -p >/dev/null 2>&1  # one server for every program of this run (it goes to the background)
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "== creating the wine prefix ($WINEPREFIX)"
  timeout 300 "$wine" wineboot --init
fi
# Wine's mount manager maps COMn to the host's serial ports at start-up unless
# the registry names the device; name the links that start_sim points at.
ports_key='HKLM\Software\Wine\Ports'
for n in 1 2 3; do
  if ! "$wine" reg query "$ports_key" /v "COM$n" 2>/dev/null | grep -q "$work/com$n/COM$n"; then
    "$wine" reg add "$ports_key" /v "COM$n" /t REG_SZ /d "$work/com$n/COM$n" /f >/dev/null
    restart_server=1
  fi
done
if [[ -n ${restart_server:-} ]]; then
  wineserver -k
  wineserver -p >/dev/null 2>&1
fi
dosdevices=$WINEPREFIX/dosdevices

# Starts controller-sim for COM<n> with the given options and maps it into wine.
start_sim() {
  local n=$1
  shift
  mkdir -p "$work/com$n"
  rm -f "$work/com$n/COM$n" "$dosdevices/com$n"
  "$sim" --dir "$work/com$n" --port "$n" --no-stdin --log "$work/com$n.log" "$@" \
    >"$work/com$n.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    [[ -e $work/com$n/COM$n ]] && break
    sleep 0.05
  done
  [[ -e $work/com$n/COM$n ]] || { echo "controller-sim did not put COM$n up" >&2; exit 1; }
  ln -sfn "$work/com$n/COM$n" "$dosdevices/com$n"
}

# The session's end with out1 switched on from the keyboard: by the time
# merkat32.exe has ended, the last frame on COM1 is all-off and the settings
# file is written. Arguments: the program's folder, the X display.
session_end_row() {
  local app=$1 display=$2 all_off='A2 6B 00 00 00 00 F5 FE' out1='A2 6B 01 00 00 00 F4 FE'
  rm -f "$app/merkat32.CFG"
  local from
  from=$(wc -l <"$work/com1.log")
  DISPLAY=$display LD_PRELOAD=$preload "$wine" "$app/merkat32.exe" >"$work/session-end.out" 2>&1 &
  local tool=$!
  pids+=("$tool")
  local on=
  for _ in $(seq 60); do
    sleep 0.5
    DISPLAY=$display xdotool search --name '^ M e r k a t - 3 2 ' windowfocus key space \
      >/dev/null 2>&1 || continue
    sleep 0.5
    if tail -n +"$from" "$work/com1.log" | grep " IN " | tail -n 1 | grep -q "$out1"; then
      on=1
      break
    fi
  done
  [[ -n $on ]] || { echo "session end: out1 never went on" >&2; exit 1; }
  timeout 60 "$wine" wineboot --end-session >/dev/null 2>&1 || true
  for _ in $(seq 100); do
    kill -0 "$tool" 2>/dev/null || break
    sleep 0.1
  done
  sleep 0.5
  local last
  last=$(tail -n +"$from" "$work/com1.log" | grep " IN " | tail -n 1 | cut -d' ' -f3-)
  [[ $last == "$all_off" ]] || { echo "session end: the last frame is $last" >&2; exit 1; }
  [[ $(stat -c %s "$app/merkat32.CFG" 2>/dev/null) == 100 ]] || {
    echo "session end: no settings file written" >&2
    exit 1
  }
  echo "merkat32.exe: session end with out1 on: last frame all-off, settings written"
}

run() {
  echo "== $*"
  LD_PRELOAD=$preload timeout 180 "$wine" "$@"
}

start_sim 1 --loopback
start_sim 2
run "$tests_dir/win32_serial_device_test.exe" --gtest_filter=-Win32Hangup.*
run "$tests_dir/win32_link_test.exe"
run "$tests_dir/win32_platform_test.exe"
start_sim 3 --loopback --hangup-after-ms 6000
run "$tests_dir/win32_serial_device_test.exe" --gtest_filter=Win32Hangup.*
echo "== the logic tests as Windows programs"
ctest --preset mingw -j 2

# The installer, silently under wine, for all users: the tool lands in
# Program Files with its Start-menu entry, runs against controller-sim on COM1
# (frames at 9600 Bd; its settings go to %APPDATA%\merkat32, not beside it),
# and the silent uninstall leaves nothing but those settings.
check_installer() {
  local setup=$1 pf appdata menu
  pf=$(winepath -u 'C:\Program Files\merkat32' 2>/dev/null)
  appdata=$(winepath -u "$("$wine" cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null)
  menu=$(winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\merkat32.lnk' 2>/dev/null)
  [[ -n $pf && -n $appdata ]] || { echo "installer: wine names no Program Files or APPDATA" >&2; exit 1; }
  rm -rf "$pf" "$appdata/merkat32"
  # The installer asks for Windows 10 (Qt 6's minimum); this prefix says 7.
  "$wine" reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$setup")" /v Version /t REG_SZ \
    /d win10 /f >/dev/null
  echo "== installer: $(basename "$setup") /S /AllUsers"
  timeout 300 "$wine" "$setup" /S /AllUsers
  for f in merkat32.exe per-user-settings uninstall.exe imageformats/qjpeg.dll licences/NOTICE.txt; do
    [[ -f $pf/$f ]] || { echo "installer: $pf lacks $f" >&2; exit 1; }
  done
  [[ -f $menu ]] || { echo "installer: no Start-menu entry" >&2; exit 1; }

  # The portable copy's run before this one ends first: COM1 is the installed tool's.
  "$wine" taskkill /f /im merkat32.exe >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  pids=()
  start_sim 1
  display=:$((90 + RANDOM % 400))
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
  DISPLAY=$display LD_PRELOAD=$preload "$wine" "$pf/merkat32.exe" >"$work/installed.out" 2>&1 &
  pids+=($!)
  sleep 15
  local frames
  frames=$(grep -c " IN A2 6B" "$work/com1.log" || true)
  ((frames > 20)) || { echo "installer: only $frames frames from the installed tool" >&2; exit 1; }
  [[ $(stat -c %s "$appdata/merkat32/merkat32.CFG" 2>/dev/null) == 100 ]] || {
    echo "installer: no 100-byte settings file in $appdata/merkat32" >&2
    exit 1
  }
  [[ ! -e $pf/merkat32.CFG ]] || { echo "installer: settings written into Program Files" >&2; exit 1; }
  "$wine" taskkill /f /im merkat32.exe >/dev/null 2>&1 || true
  sleep 2

  echo "== uninstaller /S"
  "$wine" "$pf/uninstall.exe" /S
  # The uninstaller runs from a copy of itself and returns at once.
  for _ in $(seq 120); do
    [[ -e $pf ]] || break
    sleep 0.5
  done
  [[ ! -e $pf ]] || { echo "installer: left behind: $(find "$pf" | head -n 20)" >&2; exit 1; }
  [[ ! -e $menu ]] || { echo "installer: the Start-menu entry stayed" >&2; exit 1; }
  [[ -f $appdata/merkat32/merkat32.CFG ]] || { echo "installer: the user's settings went" >&2; exit 1; }
  echo "installer: installed, $frames frames, settings in %APPDATA%\\merkat32, uninstalled cleanly"
}

qt_cache=${M32_QT_MINGW_CACHE:-$HOME/.cache/merkat32-qt-mingw}
if [[ -f $qt_cache/qt6-mingw/.complete ]]; then
  echo "== merkat32.exe under wine (Qt for Windows found in $qt_cache)"
  scripts/build-windows.sh >"$work/build-windows.log" 2>&1 || {
    tail -n 30 "$work/build-windows.log" >&2
    exit 1
  }
  folder=$(find build/windows -maxdepth 1 -type d -name 'merkat32-*-windows-x86_64' | head -n 1)
  app=$work/app
  rm -rf "$app" && cp -r "$folder" "$app"
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  pids=()
  start_sim 1
  display=:$((90 + RANDOM % 400))
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
  DISPLAY=$display LD_PRELOAD=$preload "$wine" "$app/merkat32.exe" >"$work/merkat32.out" 2>&1 &
  pids+=($!)
  sleep 15
  all_off='A2 6B 00 00 00 00 F5 FE'
  frames=$(grep -c " IN $all_off" "$work/com1.log" || true)
  first=$(grep -m1 " IN " "$work/com1.log" | cut -d' ' -f1)
  last=$(grep " IN " "$work/com1.log" | tail -n 1 | cut -d' ' -f1)
  grep -q "EVENT line 9600 " "$work/com1.log" || { echo "COM1 was not set to 9600 Bd" >&2; exit 1; }
  ((frames > 20)) || { echo "only $frames all-off frames from merkat32.exe" >&2; exit 1; }
  [[ $(stat -c %s "$app/merkat32.CFG" 2>/dev/null) == 100 ]] || {
    echo "merkat32.exe wrote no 100-byte settings file" >&2
    exit 1
  }
  echo "merkat32.exe: $frames all-off frames at 9600 Bd," \
    "$(((frames - 1) * 1000000 / (last - first + 1))) frames/s; settings file written"
  first_run=${pids[-1]}
  kill "$first_run" 2>/dev/null || true  # COM1 is the next run's
  wait "$first_run" 2>/dev/null || true
  if command -v xdotool >/dev/null; then
    session_end_row "$app" "$display"
  else
    echo "no xdotool: the session end with out1 on is not run"
  fi
  check_installer "$(find build/windows -maxdepth 1 -name 'merkat32-*-setup.exe' | head -n 1)"
fi

echo "wine tests passed in $((SECONDS - start)) s"
