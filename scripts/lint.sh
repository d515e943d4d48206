#!/usr/bin/env bash
# Lint: checks that every tracked C++ file is formatted by the repo's
# .clang-format and that no folder of src/ but src/app includes "app/..."
# (fast; CI runs it). With --tidy it also runs clang-tidy with
# the repo's .clang-tidy over the sources, tools, tests and benches, using the
# compile database of build/tidy (configured here when missing), and fails on
# any finding.
#
#   scripts/lint.sh                  format check only
#   scripts/lint.sh --tidy           format check, then clang-tidy on everything
#                                    (about a quarter of an hour on two cores)
#   scripts/lint.sh --tidy PATH...   clang-tidy only on the sources under PATHs
#   scripts/lint.sh --fix            rewrite misformatted files in place
#   M32_LINT_JOBS=N                  clang-tidy jobs in parallel (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."

tidy=0
fix=0
paths=()
for arg in "$@"; do
  case "$arg" in
    --tidy) tidy=1 ;;
    --fix) fix=1 ;;
    -h | --help)
      sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    -*)
      echo "lint.sh: unknown option '$arg' (try --help)" >&2
      exit 2
      ;;
    *) paths+=("${arg%/}") ;;
  esac
done
if ((${#paths[@]})) && ! ((tidy)); then
  echo "lint.sh: paths are for --tidy (the format check always covers every file)" >&2
  exit 2
fi

clang_format=${CLANG_FORMAT:-clang-format}
clang_tidy=${CLANG_TIDY:-clang-tidy}
jobs=${M32_LINT_JOBS:-2}

mapfile -t cxx_files < <(git ls-files -- \
  'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'tools/*.cpp' 'tools/*.h' \
  'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h')

# --- format ------------------------------------------------------------------
if ((fix)); then
  printf '%s\0' "${cxx_files[@]}" | xargs -0 "$clang_format" -i
  echo "lint: formatted ${#cxx_files[@]} files"
fi
format_log=$(mktemp)
trap 'rm -f "$format_log"' EXIT
if ! printf '%s\0' "${cxx_files[@]}" |
  xargs -0 "$clang_format" --dry-run -Werror >"$format_log" 2>&1; then
  echo "lint: these files differ from .clang-format (fix: scripts/lint.sh --fix):"
  grep -E '^[^ ].*: (error|warning):' "$format_log" | cut -d: -f1 | sort -u | sed 's/^/  /'
  exit 1
fi
echo "lint: format OK (${#cxx_files[@]} files)"

# --- layering ------------------------------------------------------------------
# src/app is the top of the program: no other folder of src/ includes it.
# (Tests, benches and tools that drive the main window may.)
if ! ((${#paths[@]})); then
  app_includes=$(git grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"app/' -- 'src/*' ':!src/app/*' || true)
  if [[ -n $app_includes ]]; then
    echo "lint: only src/app includes \"app/...\"; these files outside it do:"
    sed 's/^/  /' <<<"$app_includes"
    exit 1
  fi
  echo "lint: layering OK"
fi
((tidy)) || exit 0

# --- clang-tidy ----------------------------------------------------------------
build=build/tidy
if [[ ! -f $build/compile_commands.json ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMERKAT_BUILD_FUZZ=OFF >/dev/null
fi
# The window sources include moc output: generate it (only that, not the build).
mapfile -t autogen < <(ninja -C "$build" -t targets all | sed -n 's/^\([^/:]*_autogen\):.*/\1/p')
if ((${#autogen[@]})); then
  ninja -C "$build" -j "$jobs" "${autogen[@]}" >/dev/null
fi

# Every translation unit of the database that is a tracked source of ours
# (fuzz targets need the fuzzing compiler and are left to their own build).
mapfile -t tidy_files < <(git ls-files -- \
  'src/*.cpp' 'tools/*.cpp' 'tests/*.cpp' 'bench/*.cpp')
if ((${#paths[@]})); then
  selected=()
  for f in "${tidy_files[@]}"; do
    for p in "${paths[@]}"; do
      if [[ $f == "$p" || $f == "$p"/* ]]; then
        selected+=("$f")
        break
      fi
    done
  done
  tidy_files=("${selected[@]}")
  if ((${#tidy_files[@]} == 0)); then
    echo "lint.sh: no sources of the compile database under ${paths[*]}" >&2
    exit 2
  fi
fi
tidy_log=$(mktemp)
trap 'rm -f "$format_log" "$tidy_log"' EXIT
status=0
printf '%s\0' "${tidy_files[@]}" |
  xargs -0 -n 1 -P "$jobs" "$clang_tidy" -p "$build" --quiet >"$tidy_log" 2>&1 || status=$?
# clang-tidy prints "N warnings generated" to stderr even with --quiet.
grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$tidy_log" || true
if ((status)) || grep -qE ': (warning|error):' "$tidy_log"; then
  echo "lint: clang-tidy found problems (count by check):"
  grep -oE '\[[a-z0-9.-]+(,-warnings-as-errors)?\]$' "$tidy_log" | sort | uniq -c | sort -rn
  exit 1
fi
echo "lint: clang-tidy OK (${#tidy_files[@]} files)"
