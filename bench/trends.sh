#!/usr/bin/env bash
# The trends window's figures for docs/PERFORMANCE.md: builds bench_trends
# in Release, times opening the window on 24 hours of one packet a second
# (and on 10 minutes, to compare), then measures the CPU the open window
# adds while following ten packets a second in the 10-minute, 1-hour and
# 24-hour views.
#
#   bench/trends.sh                      7 openings of each, turns of 30 s
#   bench/trends.sh --runs 3 --seconds 10
#   bench/trends.sh --runs 1 --seconds 2 a quick look
#   bench/trends.sh --redraw DIR         the tables again from saved results
#   (and --build DIR, --out DIR, --jobs N: see bench/lib.sh)
#
# Raw results in RESULTS/trends/: open-RANGE.txt and follow-RANGE.txt, the
# driver's lines (each opening, each turn, the summary), run.env.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

runs=7
seconds=30
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=${2:-}; shift 2 ;;
        --seconds) seconds=${2:-}; shift 2 ;;
        *) bench_option "$@"; shift "$bench_took" ;;
    esac
done
bench_whole "$runs" && [ "$runs" -ge 1 ] || { echo "--runs needs a whole number of 1 or more" >&2; exit 2; }
bench_whole "$seconds" && [ "$seconds" -ge 1 ] || { echo "--seconds needs a whole number of 1 or more" >&2; exit 2; }
bench_redraw_if_asked

ensure_deps
bench_results trends
bench_build_targets bench_trends
bench_private_home
export QT_QPA_PLATFORM=offscreen
bench_set runs "$runs"
bench_set seconds "$seconds"
bench_set rounds 2

# The timed openings run at a raised priority where that is allowed (lib.sh's
# prio), so that other work on a shared machine delays them less; their CPU
# time does not depend on it.
for range in 24h 10min; do
    log "opening the window on $range, $runs times"
    "${prio[@]}" "$bin/bench_trends" open "$runs" "$range" 2>"$results/open-$range.log" | tee "$results/open-$range.txt" >&2
done
for range in 10min 1h 24h; do
    log "following 10 packets a second on $range: 2 rounds of $seconds s each way"
    "$bin/bench_trends" follow "$seconds" 2 "$range" 2>"$results/follow-$range.log" | tee "$results/follow-$range.txt" >&2
done

bench_save_machine
"$bench_root/bench/tables.sh" "$results"
