#!/usr/bin/env bash
# Builds the viewer and the benchmarks in Release into build-bench/, runs the
# hot-path benchmarks and the whole-program measurements one script after the
# other, and prints the tables. Everything is measured with public tools:
# Google Benchmark, /usr/bin/time, valgrind's callgrind, the kernel's
# per-process counters (/proc/PID/stat and /proc/PID/status), and X servers
# of its own (Xvfb) with xdotool and xev to find, click and watch the
# windows, and xterm with nc as the raw terminal beside the viewer.
#
#   bench/run.sh                  the full run (about 10 to 15 minutes with
#                                 --before, the builds not counted)
#   bench/run.sh --quick          short windows everywhere (about 5 minutes)
#   bench/run.sh --before DIR     also measures the viewer in DIR, a checkout
#                                 of an earlier commit, built into
#                                 DIR/build-bench (the "before" columns)
#   bench/run.sh --seconds N      side-by-side window in seconds (default 60)
#   bench/run.sh --rounds N       ... cut into N rounds (default 3)
#   bench/run.sh --sweep-seconds N
#                                 measuring window of each sweep rate
#                                 (default 20)
#   bench/run.sh --rates "10 100" the sweep's packet rates (default
#                                 "9.5 10 10.2 12.5 20 50 100 1000")
#   bench/run.sh --no-sweep       leaves the rate sweep out
#   bench/run.sh --redraw DIR     runs nothing: prints the tables again from
#                                 the results saved in DIR
#   (and --build DIR, --out DIR, --jobs N: see bench/lib.sh)
#
# The parts are scripts of their own, each runnable alone with the same
# options that concern it: bench/hotpaths.sh (Google Benchmark, callgrind),
# bench/lifecycle.sh (start-up and shut-down), bench/side.sh (every program
# side by side) and bench/sweep.sh (the rate sweep). Each keeps its raw
# results in a folder of its own under build-bench/bench-results/, which this
# script empties first; bench/tables.sh draws the tables from them, here and
# for --redraw. The tables also go to build-bench/bench-results/tables.md.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

seconds=60
rounds=3
sweep_seconds=20
rates="9.5 10 10.2 12.5 20 50 100 1000"
sweep=1
quick=()
before=()
bench_takes_before=1
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=${2:-}; shift 2 ;;
        --rounds) rounds=${2:-}; shift 2 ;;
        --sweep-seconds) sweep_seconds=${2:-}; shift 2 ;;
        --rates) rates=${2:-}; shift 2 ;;
        --no-sweep) sweep=0; shift ;;
        --quick) seconds=20; rounds=2; sweep_seconds=8; quick=(--quick); shift ;;
        *) bench_option "$@"; shift "$bench_took" ;;
    esac
done
[ -n "$bench_before" ] && before=(--before "$bench_before")
bench_whole "$seconds" && [ "$seconds" -ge 5 ] || { echo "--seconds needs a whole number of 5 or more" >&2; exit 2; }
bench_whole "$rounds" && [ "$rounds" -ge 1 ] && [ $(( seconds / rounds )) -ge 5 ] \
    || { echo "--rounds needs a whole number of 1 or more, each round at least 5 s" >&2; exit 2; }
bench_whole "$sweep_seconds" && [ "$sweep_seconds" -ge 3 ] || { echo "--sweep-seconds needs a whole number of 3 or more" >&2; exit 2; }
for r in $rates; do
    awk -v r="$r" 'BEGIN {exit !(r + 0 > 0 && r + 0 <= 1000)}' || { echo "--rates: $r is not a rate of 0 to 1000" >&2; exit 2; }
done
bench_redraw_if_asked

ensure_deps libbenchmark-dev xvfb xdotool x11-utils time valgrind procps xterm netcat-openbsd
bench_out=${bench_out:-$bench_build/bench-results}
rm -rf "$bench_out"
mkdir -p "$bench_out"

# The parts record the whole run's start and load in their machine.txt, and
# leave the run's own machine.txt to this script.
export BENCH_RUN=1 BENCH_LOAD_AT_START BENCH_STARTED
BENCH_LOAD_AT_START=$(cut -d' ' -f1-3 /proc/loadavg)
BENCH_STARTED=$(date +%s)
shared=(--build "$bench_build" --out "$bench_out" --jobs "$bench_jobs")
here=$bench_root/bench
"$here/hotpaths.sh" "${shared[@]}" "${quick[@]}" "${before[@]}" >/dev/null
"$here/lifecycle.sh" "${shared[@]}" >/dev/null
"$here/side.sh" "${shared[@]}" --seconds "$seconds" --rounds "$rounds" "${before[@]}" >/dev/null
if [ "$sweep" = 1 ]; then
    "$here/sweep.sh" "${shared[@]}" --seconds "$sweep_seconds" --rates "$rates" "${before[@]}" >/dev/null
fi

bench_started=$BENCH_STARTED
bench_load_at_start=$BENCH_LOAD_AT_START
bench_save_machine "$bench_out/machine.txt" "${before[1]:-}"
"$here/tables.sh" "$bench_out" | tee "$bench_out/tables.md"
