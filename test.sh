#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
ensure_deps

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRTVIEWER_BENCH=OFF
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
