#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset) and runs each of them for
# SECONDS seconds (default 60) on a scratch copy of its seed corpus.
#
#   fuzz/run-all.sh [SECONDS]
#
# Prints one line per target with the executions it reached, and fails if any
# target finds a crash, a sanitizer report or a broken invariant. The input
# that did it is kept under the work folder named at the end.
#
# Environment:
#   M32_FUZZ_BUILD   build folder (default: build/fuzz, the preset's)
#   M32_FUZZ_NOBUILD set to 1 to use an existing build as it is
#   M32_FUZZ_ONLY    space-separated target names to run (default: all)
#   M32_FUZZ_WORK    where the corpus copies and logs go (default: a new
#                    temporary folder)
#   M32_FUZZ_RUNS    stop each target after this many executions (SECONDS is
#                    then only the limit), for the long local runs:
#                    M32_FUZZ_RUNS=10000000 fuzz/run-all.sh 5400
set -euo pipefail

seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${M32_FUZZ_BUILD:-$root/build/fuzz}"
cd "$root"

# target  seed corpus folder  extra libFuzzer options
targets=(
  "rtf_reader_fuzz       rtf                    -dict=$root/fuzz/rtf.dict"
  "settings_loader_fuzz  settings_loader_fuzz   -max_len=400"
  "language_file_fuzz    language_file_fuzz     -max_len=4096"
  "link_receive_fuzz     link_receive_fuzz      -max_len=512"
  "brightness_reply_fuzz brightness_reply_fuzz  -max_len=512"
  "send_field_fuzz       send_field_fuzz        -max_len=300"
  "number_field_fuzz     number_field_fuzz      -max_len=128"
  "walk_map_fuzz         walk_map_fuzz          -max_len=2048"
)

if [ "${M32_FUZZ_NOBUILD:-0}" != 1 ]; then
  # Only the fuzz targets and the logic libraries under them; no windows.
  names=()
  for entry in "${targets[@]}"; do names+=("${entry%% *}"); done
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz --target "${names[@]}"
fi

work="${M32_FUZZ_WORK:-$(mktemp -d "${TMPDIR:-/tmp}/m32fuzz-run.XXXXXX")}"
mkdir -p "$work"
# The targets that go through files write them under TMPDIR: memory is
# quicker than a disk that is flushed at every save.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=0
for entry in "${targets[@]}"; do
  read -r name corpus extra <<<"$entry"
  if [ -n "${M32_FUZZ_ONLY:-}" ] && [[ " $M32_FUZZ_ONLY " != *" $name "* ]]; then
    continue
  fi
  exe="$build/fuzz/$name"
  if [ ! -x "$exe" ]; then
    printf '%-22s MISSING (%s not built)\n' "$name" "$exe"
    failed=1
    continue
  fi
  dir="$work/$name"
  rm -rf "$dir"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp -r "$root/fuzz/corpus/$corpus/." "$dir/corpus/"
  log="$dir/log.txt"
  status=0
  runs=()
  if [ -n "${M32_FUZZ_RUNS:-}" ]; then runs=("-runs=$M32_FUZZ_RUNS"); fi
  # shellcheck disable=SC2086  # $extra holds separate options
  "$exe" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$dir/artifacts/" "${runs[@]}" $extra "$dir/corpus" >"$log" 2>&1 || status=$?
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)"
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$dir/artifacts")" ]; then
    printf '%-22s FAILED  executions %s (exit %s); input and log in %s\n' \
      "$name" "${execs:-?}" "$status" "$dir"
    grep -m 3 -E 'invariant broken|ERROR: |runtime error' "$log" | sed 's/^/    /' || true
    failed=1
  else
    printf '%-22s ok      executions %s (%s/s)\n' "$name" "${execs:-?}" "${rate:-?}"
  fi
done

if [ "$failed" -ne 0 ]; then
  echo "fuzzing found problems; see $work" >&2
  exit 1
fi
if [ -z "${M32_FUZZ_WORK:-}" ]; then rm -rf "$work"; fi
