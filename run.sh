#!/usr/bin/env bash
# Installs what is missing, builds, and starts the field-unit simulator on
# 127.0.0.1:2400 with the viewer beside it. Serial number 0001 points at the
# simulator: press Connect To Server.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
ensure_deps

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRTVIEWER_BENCH=OFF -DCMAKE_UNITY_BUILD=OFF >/dev/null
cmake --build build -j"$(nproc)" --target rtviewer unit-sim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: run this from a desktop session (or set DISPLAY)." >&2
    exit 1
fi

build/bin/unit-sim --host 127.0.0.1 --port 2400 "$@" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
build/bin/rtviewer
