#!/usr/bin/env bash
# The history's figures for docs/PERFORMANCE.md: builds bench_history and
# bench_recording in Release into build-bench/, builds (or reuses) the
# history file of a year of one packet a second, times the 24-hour query,
# the 24-hour CSV export and inserting, then measures the CPU the recorder
# adds at ten packets a second.
#
#   bench/history.sh                       the full year (31,536,000 readings; about
#                                          14 GB and 15 to 20 minutes to build)
#   bench/history.sh --rows 3000000        a scaled run (same layout, fewer days)
#   bench/history.sh --seconds 60          length of each recording turn (default 30)
#
# The file stays in build-bench/history/ so that a second run starts at
# once; delete it to build it again.
set -euo pipefail
cd "$(dirname "$0")/.."

rows=31536000
seconds=30
while [ $# -gt 0 ]; do
    case "$1" in
        --rows) rows=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
    esac
done

source scripts/deps.sh
ensure_deps libbenchmark-dev

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DRTVIEWER_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target bench_history bench_recording >/dev/null
mkdir -p "$build/history"
echo "== $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg), $(date -u +%FT%TZ)"
"$build/bin/bench_history" --db "$build/history/year-$rows.sqlite3" --rows "$rows"
"$build/bin/bench_recording" "$seconds" 2
