#!/usr/bin/env bash
# Sets everything up and runs merkat32 against the simulated controller:
# builds, lays out a demo folder (the tool, its language and help files, and
# COM1 pointing at controller-sim's pseudo-terminal) and starts both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release
cmake --build --preset release -j "$(nproc)"
demo="$PWD/demo"
mkdir -p "$demo"
bin=build/release/src/app/exe
cp "$bin/merkat32" "$demo/merkat32"
cp "$bin"/merkat32.* "$demo/" 2>/dev/null || true
sim=build/release/tools/controller-sim/controller-sim
sim_pid=""
if [[ -x $sim ]]; then
  "$sim" --dir "$demo" --port 1 --mode adc >"$demo/controller-sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do [[ -e $demo/COM1 ]] && break; sleep 0.1; done
fi
trap '[[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null; wait' EXIT
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  echo "No display: running under xvfb-run (nothing to see; use a desktop session to watch)."
  exec_cmd=(xvfb-run -a)
else
  exec_cmd=()
fi
"${exec_cmd[@]}" "$demo/merkat32"
