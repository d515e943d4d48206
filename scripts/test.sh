#!/usr/bin/env bash
# Sets everything up and runs the whole test suite (debug build, warnings as
# errors), headless.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset dev
cmake --build --preset dev -j "$(nproc)"
find build/dev -name '*.gcda' -delete
QT_QPA_PLATFORM=offscreen ctest --preset dev -j 2
# Line coverage of the logic libraries (windows and Qt glue left out).
echo "Line coverage of the logic libraries (details: build/dev/coverage.txt):"
gcovr --root . --object-directory build/dev --filter 'src/' \
  --exclude '.*_(window|dialog|qt)\.(cpp|h)$' --exclude 'src/app/exe/' \
  --txt build/dev/coverage.txt --print-summary 2>build/dev/gcovr.log |
  grep -E '^(lines|functions|branches):' || echo "(no coverage report: see build/dev/gcovr.log)"
