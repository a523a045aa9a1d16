#!/usr/bin/env bash
# The fleet recorder's figures for docs/PERFORMANCE.md: a fleet of unit-sim
# units into one rtrecorder on SQLite, every unit of the lookup table, for
# a while; then what was recorded of what was sent, per unit, the
# recorder's CPU over its whole life as a share of one core, its resident
# memory every 5 s, and how long after its arrival each reading was
# visible in the file (bench_fleet watching from outside).
#
#   bench/fleet.sh                     both rows: 200 units at 10 packets/s and
#                                      999 units at 1 packet/s, 120 s each
#   bench/fleet.sh --seconds 30        shorter runs
#   bench/fleet.sh --rows 200x10       one row only (UNITSxRATE, space-separated
#                                      for several)
#   bench/fleet.sh --redraw DIR        the table again from saved results
#   (and --build DIR, --out DIR, --jobs N: see bench/lib.sh)
#
# 999 units, not 1,000: the lookup table reaches a unit by the last three
# characters of its serial number, so 1000 would find no row.
# Raw results in RESULTS/fleet/UNITSxRATE/: rtrecorder.log, unit-sim.log,
# rss.tsv (seconds, kB), cpu.txt, latency.txt, count.txt; run.env.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

seconds=120
rows="200x10 999x1"
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=${2:-}; shift 2 ;;
        --rows) rows=${2:-}; shift 2 ;;
        *) bench_option "$@"; shift "$bench_took" ;;
    esac
done
bench_whole "$seconds" && [ "$seconds" -ge 10 ] || { echo "--seconds needs a whole number of 10 or more" >&2; exit 2; }
bench_redraw_if_asked

bench_results fleet
bench_build_targets rtrecorder unit-sim bench_fleet
bench_set seconds "$seconds"
bench_set rows "$rows"
# A unit-sim of 999 units holds two sockets a unit, the recorder one.
ulimit -n 8192

run_row() {
    local units=${1%x*} rate=${1#*x} dir=$results/$1
    mkdir -p "$dir"
    log "$units units at $rate packets/s for $seconds s"
    bench_start_fleet "$dir" "$units" "$rate" --db "$dir/history.sqlite3"
    local rec_pid=$fleet_rec_pid
    local start_ns
    start_ns=$(now_ns)
    "$bin/bench_fleet" watch --db "$dir/history.sqlite3" --sent-log "$dir/sent.log" --seconds "$seconds" \
        >"$dir/latency.txt" &
    local watch_pid=$!
    : >"$dir/rss.tsv"
    local t=0
    while [ "$t" -lt "$seconds" ]; do
        sleep 5
        t=$((t + 5))
        printf '%s\t%s\n' "$t" "$(rss_kb "$rec_pid")" >>"$dir/rss.tsv"
    done
    local ticks end_ns
    ticks=$(cpu_ticks "$rec_pid")
    end_ns=$(now_ns)
    bench_stop_fleet
    wait "$watch_pid" || true
    awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" -v ns="$((end_ns - start_ns))" -v stop="$fleet_stop_ms" \
        'BEGIN {printf "cpu %.2f\nstop_ms %d\n", 100 * t / hz / (ns / 1e9), stop}' >"$dir/cpu.txt"
    "$bin/bench_fleet" count --db "$dir/history.sqlite3" --sent-log "$dir/sent.log" >"$dir/count.txt"
    rm -f "$dir"/history.sqlite3*
}

for row in $rows; do
    run_row "$row"
done

bench_save_machine
"$bench_root/bench/tables.sh" "$results"
