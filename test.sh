#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless: the normal
# build and its suite, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/), a short fuzz run of every
# libFuzzer target (build-fuzz/, clang), and a check of the Debian package.
# Both suites share a throwaway PostgreSQL server (scripts/pgtest.sh), each
# test in a database of its own; it is stopped and removed however the run
# ends.
#
# The suites mostly wait (timers, sockets, the simulator), so each one runs
# while the next build compiles beside it at a lower priority: the tests get
# the processor when they need it, the compiler takes the rest.
#
#   ./test.sh           every stage; this is what CI runs (.ci/run)
#   ./test.sh --quick   the normal build (build/) and its suite only
set -euo pipefail
cd "$(dirname "$0")"

usage="usage: ./test.sh [--quick]   (--quick: the normal build and its tests only)"
quick=0
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) quick=1; shift ;;
        -h|--help) echo "$usage"; exit 0 ;;
        *) echo "$usage; unknown option: $1" >&2; exit 2 ;;
    esac
done

source scripts/deps.sh
ensure_deps
[ "$quick" = 1 ] || ensure_fuzz_deps

source scripts/pgtest.sh
# A build started beside a stage runs in a process group of its own, ended
# with everything it started if the run stops before it is done.
asan_build_pid=
stop_everything() {
    [ -z "$asan_build_pid" ] || kill -- -"$asan_build_pid" 2>/dev/null || true
    pg_test_stop
}
trap stop_everything EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
pg_test_start

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
test_jobs=$((jobs * 3))
total_start=$(date +%s)

stage() {
    echo "==> $1"
    stage_start=$(date +%s)
}
stage_done() {
    echo "==> $1 took $(($(date +%s) - stage_start)) s"
}

# Runs a suite in the background, its output kept in a file until it ends.
suite_pid=
start_suite() {
    local dir=$1
    shift
    "$@" ctest --test-dir "$dir" --output-on-failure -j"$test_jobs" >"$dir/ctest.log" 2>&1 &
    suite_pid=$!
}
finish_suite() {
    local dir=$1 status=0
    wait "$suite_pid" || status=$?
    grep -E "tests passed|tests failed|\*\*\*|Failed|Total Test time" "$dir/ctest.log" || true
    if [ "$status" -ne 0 ]; then
        cat "$dir/ctest.log"
        echo "==> the suite in $dir failed" >&2
        exit "$status"
    fi
}
# The sanitizer build, at a low priority, its output kept in a file. It
# gets a process group of its own (job control for that one command), not
# a session: the kernel schedules each session as a group of its own, where
# the lower priority would count only against itself.
start_asan_build() {
    set -m
    nice -n 15 cmake --build build-asan -j"$jobs" >build-asan/build.log 2>&1 &
    asan_build_pid=$!
    set +m
}
finish_asan_build() {
    local status=0
    wait "$asan_build_pid" || status=$?
    asan_build_pid=
    if [ "$status" -ne 0 ]; then
        tail -40 build-asan/build.log
        echo "==> the build in build-asan failed" >&2
        exit "$status"
    fi
}

# Both builds compile each library in units of up to sixteen files (CMake's
# unity build): the Qt headers are read once per unit instead of once per
# file, which saves about a quarter of the compile (two units a library
# still keep both cores busy). ./run.sh and a developer's own
# build compile file by file, so a missing include still shows there. The
# suite and the package check take code optimised at -O1, which compiles in
# less time than -O2 and is fortified alike; the benchmarks build at -O2 in
# a folder of their own.
build_stage="build"
[ "$quick" = 1 ] || build_stage="build, and the sanitizer build beside it"
stage "$build_stage"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" -DRTVIEWER_BENCH=OFF \
    -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=16
if [ "$quick" = 0 ]; then
    # The sanitizer build starts now at a low priority: it takes what the
    # build leaves of the two cores (while it links, or waits on one unit
    # that the rest of a library needs), and goes on beside the suite. The
    # sanitizers need no optimisation to find what they find, and a report
    # names its functions from the symbols alone (build-asan with -g1 adds
    # the lines, at a tenth more compile); the simulator is the one this
    # build makes.
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O0 -g0" \
        -DRTVIEWER_SANITIZE=ON -DRTVIEWER_BENCH=OFF -DRTVIEWER_UNIT_SIM="$PWD/build/bin/unit-sim" \
        -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=16 >/dev/null
    start_asan_build
fi
cmake --build build -j"$jobs"
stage_done "$build_stage"

if [ "$quick" = 1 ]; then
    stage "tests"
    start_suite build
    finish_suite build
    stage_done "tests"
    echo "==> all stages took $(($(date +%s) - total_start)) s"
    exit 0
fi

# Every sanitizer report ends the test that made it: AddressSanitizer and
# LeakSanitizer by default, UndefinedBehaviorSanitizer because the build has
# -fno-sanitize-recover=all. tests/CMakeLists.txt points LeakSanitizer at
# tests/lsan.supp, which lists the system libraries' own leaks. A signal
# connected to a lambda that outlived its test's locals is caught by the
# stack-use-after-return check, which costs nothing measurable here.
stage "tests, and the sanitizer build and the package check beside them"
start_suite build
# The package is made from build/ and inspected while the suite runs: it
# needs a core for a few seconds, and the tests only wait on its files.
nice -n 15 scripts/check-package.sh build >build/package-check.log 2>&1 &
package_pid=$!
finish_asan_build
finish_suite build
stage_done "tests, and the sanitizer build and the package check beside them"

# The fuzz targets are built and run while the sanitizer suite runs, which
# mostly waits on its timers and sockets: a fixed seed and a fixed number of
# runs per target (fuzz/run.sh without --smoke runs them for as long as
# asked).
stage "sanitizer tests, and the fuzz build and smoke beside them"
start_suite build-asan env ASAN_OPTIONS=detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
    UBSAN_OPTIONS=print_stacktrace=1
fuzz_status=0
nice -n 15 fuzz/run.sh --smoke || fuzz_status=$?
finish_suite build-asan
package_status=0
wait "$package_pid" || package_status=$?
cat build/package-check.log
if [ "$fuzz_status" -ne 0 ] || [ "$package_status" -ne 0 ]; then
    echo "==> the fuzz smoke (exit $fuzz_status) or the package check (exit $package_status) failed" >&2
    exit 1
fi
stage_done "sanitizer tests, and the fuzz build and smoke beside them"

echo "==> all stages took $(($(date +%s) - total_start)) s"
