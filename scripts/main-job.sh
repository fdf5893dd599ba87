#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job: a message sent with tellwick_cli
# and received on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
echo "Main job: not available yet"
