#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless: first the
# normal build, then the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/), then a short fuzz run of every
# libFuzzer target (build-fuzz/, clang).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
ensure_deps
ensure_fuzz_deps

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

stage() {
    echo "==> $1"
    stage_start=$(date +%s)
}
stage_done() {
    echo "==> $1 took $(($(date +%s) - stage_start)) s"
}

stage "build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRTVIEWER_BENCH=OFF
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
stage_done "build and tests"

# Every sanitizer report ends the test that made it: AddressSanitizer and
# LeakSanitizer by default, UndefinedBehaviorSanitizer because the build has
# -fno-sanitize-recover=all. tests/CMakeLists.txt points LeakSanitizer at
# tests/lsan.supp, which lists the system libraries' own leaks. A signal
# connected to a lambda that outlived its test's locals is caught by the
# stack-use-after-return check, which costs nothing measurable here.
stage "sanitizer build and tests"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRTVIEWER_SANITIZE=ON -DRTVIEWER_BENCH=OFF
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
    UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-asan --output-on-failure -j"$jobs"
stage_done "sanitizer build and tests"

# A fixed seed and a fixed number of runs per target; fuzz/run.sh without
# --smoke runs them for as long as asked.
stage "fuzz smoke"
fuzz/run.sh --smoke
stage_done "fuzz smoke"
