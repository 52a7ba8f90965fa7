#!/usr/bin/env bash
# Builds everything (warnings are errors) and runs the whole test suite with CTest: unit
# tests, the tools' tests (on SQLite and on a throw-away PostgreSQL server that
# scripts/with-postgres.sh starts and removes), benchmark smoke runs and the fuzz targets.
# The build folder is ./build unless TGEN_BUILD_DIR names another.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${TGEN_BUILD_DIR:-build}

cmake -S . -B "$build" -DTGEN_WERROR=ON
cmake --build "$build" -j2
cd "$build"
"$root/scripts/with-postgres.sh" ctest --output-on-failure -j2
