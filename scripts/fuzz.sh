#!/usr/bin/env bash
# Builds the fuzz targets with clang in a build folder of their own and runs them for a
# bounded time each (ctest -L fuzz). Without clang's libFuzzer runtime it says so and skips.
#   FUZZ_BUILD_DIR (default build-fuzz), TELLWICK_FUZZ_SECONDS (default 30 per target)
set -euo pipefail
cd "$(dirname "$0")/.."
FUZZ_BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
SECONDS_EACH=${TELLWICK_FUZZ_SECONDS:-30}

probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf '#include <cstddef>\n#include <cstdint>\nextern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }\n' \
    > "$probe/probe.cpp"
if ! command -v clang++ >/dev/null 2>&1 ||
   ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null; then
    echo "fuzz tests skipped: clang++ with its libFuzzer runtime is missing (packages clang, libclang-rt-14-dev)"
    exit 0
fi

CC=clang CXX=clang++ cmake -S . -B "$FUZZ_BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTELLWICK_FUZZ=ON -DTELLWICK_BUILD_TESTS=OFF -DTELLWICK_BUILD_BENCHMARKS=OFF \
    -DTELLWICK_FUZZ_SECONDS="$SECONDS_EACH" >/dev/null
cmake --build "$FUZZ_BUILD_DIR" -j2 --target fuzz_packets fuzz_prefs fuzz_clients_xml \
    fuzz_clients_ini fuzz_ui_document fuzz_command_line fuzz_trailer fuzz_key_file
cd "$FUZZ_BUILD_DIR"
ctest --output-on-failure -j2 -L fuzz
