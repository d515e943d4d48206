#!/usr/bin/env bash
# Sets everything up and runs the whole test suite (debug build, warnings as
# errors), headless.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset dev
cmake --build --preset dev -j "$(nproc)"
QT_QPA_PLATFORM=offscreen ctest --preset dev -j 2
