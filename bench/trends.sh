#!/usr/bin/env bash
# The trends window's figures for docs/PERFORMANCE.md: builds bench_trends
# in Release, times opening the window on 24 hours of one packet a second
# (and on 10 minutes, to compare), then measures the CPU the open window
# adds while following ten packets a second in the 10-minute, 1-hour and
# 24-hour views.
#
#   bench/trends.sh                     7 openings of each, turns of 30 s
#   bench/trends.sh --runs 3 --seconds 10
#   bench/trends.sh --build DIR         build in DIR instead of build-bench/
set -euo pipefail
cd "$(dirname "$0")/.."

runs=7
seconds=30
build=build-bench
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
    esac
done

source scripts/deps.sh
ensure_deps

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DRTVIEWER_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target bench_trends >/dev/null
# The timed openings run at a raised priority where that is allowed, so that
# other work on a shared machine delays them less; their CPU time does not
# depend on it.
raised=()
if nice -n -10 true 2>/dev/null; then
    raised=(nice -n -10)
fi
echo "== $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg), $(date -u +%FT%TZ), commit $(git rev-parse --short HEAD 2>/dev/null || echo none)"
for range in 24h 10min; do
    "${raised[@]}" "$build/bin/bench_trends" open "$runs" "$range" 2>/dev/null
done
for range in 10min 1h 24h; do
    "$build/bin/bench_trends" follow "$seconds" 2 "$range" 2>/dev/null
done
echo "== load $(cut -d' ' -f1-3 /proc/loadavg) at the end"
