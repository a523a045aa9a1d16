#!/usr/bin/env bash
# The history's figures for docs/PERFORMANCE.md: builds bench_history and
# bench_recording in Release, builds (or reuses) the history file of a year
# of one packet a second, times the 24-hour query, the 24-hour CSV export and
# inserting, then measures the CPU the recorder adds at ten packets a second.
#
#   bench/history.sh                     the full year (31,536,000 readings; about
#                                        14 GB and 15 to 20 minutes to build)
#   bench/history.sh --rows 3000000      a scaled run (same layout, fewer days)
#   bench/history.sh --seconds 60        length of each recording turn (default 30)
#   bench/history.sh --rows 86400 --seconds 2
#                                        a day and two short turns: a quick look
#   bench/history.sh --redraw DIR        the tables again from saved results
#   (and --build DIR, --out DIR, --jobs N: see bench/lib.sh)
#
# The file stays in BUILD/history/ so that a second run starts at once;
# delete it to build it again. Raw results in RESULTS/history/:
# bench_history.json (Google Benchmark; JSON, as its CSV writer refuses
# benchmarks with counters of their own each), bench_history.txt (the
# build's insert rates and the file's size), bench_recording.txt (each
# turn), run.env.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

rows=31536000
seconds=30
while [ $# -gt 0 ]; do
    case "$1" in
        --rows) rows=${2:-}; shift 2 ;;
        --seconds) seconds=${2:-}; shift 2 ;;
        *) bench_option "$@"; shift "$bench_took" ;;
    esac
done
bench_whole "$rows" && [ "$rows" -ge 86400 ] || { echo "--rows needs a whole number of 86400 or more" >&2; exit 2; }
bench_whole "$seconds" && [ "$seconds" -ge 1 ] || { echo "--seconds needs a whole number of 1 or more" >&2; exit 2; }
bench_redraw_if_asked

ensure_deps libbenchmark-dev
bench_results history
bench_build_targets bench_history bench_recording
bench_private_home
bench_set rows "$rows"
bench_set seconds "$seconds"
bench_set rounds 2

mkdir -p "$bench_build/history"
log "the history file of $rows readings, the query, the export and inserting"
"$bin/bench_history" --db "$bench_build/history/year-$rows.sqlite3" --rows "$rows" \
    --benchmark_out="$results/bench_history.json" --benchmark_out_format=json | tee "$results/bench_history.txt" >&2
log "recording at 10 packets a second: 2 rounds of $seconds s each way"
"$bin/bench_recording" "$seconds" 2 | tee "$results/bench_recording.txt" >&2

bench_save_machine
"$bench_root/bench/tables.sh" "$results"
