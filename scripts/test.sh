#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test with CTest, then the fuzz
# targets for a bounded time each in a clang build of their own (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
# No system header above the platform layer: cheap, so before the long build.
bash scripts/check-layers.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELLWICK_WERROR=ON >/dev/null
cmake --build "$BUILD_DIR" -j2
(cd "$BUILD_DIR" && ctest --output-on-failure -j2 --timeout 300)
bash scripts/fuzz.sh
