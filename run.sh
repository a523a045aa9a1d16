#!/usr/bin/env bash
# Installs what is missing, builds, and starts the field-unit simulator on
# 127.0.0.1:2400 with the viewer beside it. Serial number 0001 points at the
# simulator: press Connect To Server.
#
# It builds into build-run/, apart from the folders of ./test.sh (build/,
# build-asan/, build-fuzz/): the two use different build types, and sharing a
# folder made each switch between them compile everything again.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
ensure_deps

cmake -S . -B build-run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRTVIEWER_BENCH=OFF -DCMAKE_UNITY_BUILD=OFF >/dev/null
cmake --build build-run -j"$(nproc)" --target rtviewer unit-sim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: run this from a desktop session (or set DISPLAY)." >&2
    exit 1
fi

build-run/bin/unit-sim --host 127.0.0.1 --port 2400 "$@" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
build-run/bin/rtviewer
