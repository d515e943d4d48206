#!/usr/bin/env bash
# The installed folder runs from wherever it is copied: installs BUILD into a
# scratch folder, copies that folder to another place and removes the first,
# checks that the copy holds everything a technician gets and no path into the
# build tree, then starts the copy against controller-sim on COM1. It must
# exchange frames with the sim, write its settings beside itself (not into the
# user's settings folder: the copy is no system-wide install), and on
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
check_name=check-install
# shellcheck source=scripts/sim-run-lib.sh
. "$(dirname "$0")/sim-run-lib.sh"
trap 'sim_cleanup; rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/installed" >/dev/null || fail "cmake --install failed"
mkdir -p "$work/elsewhere"
cp -a "$work/installed" "$work/elsewhere/merkat32"
rm -rf "$work/installed"
dir="$work/elsewhere/merkat32"

for f in merkat32 merkat32.MNU merkat32.MN1 merkat32.HLP merkat32.HL1 merkat32.desktop merkat32-icon.png; do
  [ -f "$dir/$f" ] || fail "the installed folder lacks $f"
done
[ -x "$dir/merkat32" ] || fail "merkat32 is not executable"
if readelf -d "$dir/merkat32" | grep -E 'R(UN)?PATH' | grep -q "$(cd "$build" && pwd)"; then
  fail "the executable still looks for libraries in the build tree"
fi
grep -q '^Exec=' "$dir/merkat32.desktop" || fail "the desktop entry has no Exec line"

start_sim "$dir"
export QT_QPA_PLATFORM=offscreen
start_tool env XDG_CONFIG_HOME="$work/config" "$dir/merkat32"
check_exchange_and_close
check_settings_file "$dir/merkat32.CFG"
[ ! -e "$work/config" ] || fail "the folder copy wrote into the user's settings folder"

echo "check-install: the copied folder ran, $(frames_in) frames exchanged, all-off at the end"
