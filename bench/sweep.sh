#!/usr/bin/env bash
# The rate sweep: for each packet rate, a unit-sim of its own and the real
# main window, full size, on a real socket behind a relay that notes when
# each packet arrived (bench_sweep, on an X server of its own): how many
# packets the panel took, how far the screen was behind the newest packet,
# and how true the status line's age was. With --before, the same driver
# built against an earlier tree, the order of the two builds alternating
# from rate to rate.
#
#   bench/sweep.sh                   20 s a rate, rates 9.5 10 10.2 12.5 20 50 100 1000
#   bench/sweep.sh --seconds 8 --rates "10 100"
#   bench/sweep.sh --before DIR      also a checkout of an earlier commit,
#                                    built into DIR/build-bench
#   bench/sweep.sh --redraw DIR      the tables again from saved results
#   (and --build DIR, --out DIR, --jobs N: see bench/lib.sh)
#
# Raw results in RESULTS/sweep/: sweep.BUILD.RATE.txt, the driver's key=value
# lines (failed=1 added when it failed), its log beside it, run.env.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

seconds=20
rates="9.5 10 10.2 12.5 20 50 100 1000"
before=""
bench_takes_before=1
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=${2:-}; shift 2 ;;
        --rates) rates=${2:-}; shift 2 ;;
        *) bench_option "$@"; shift "$bench_took" ;;
    esac
done
before=$bench_before
bench_whole "$seconds" && [ "$seconds" -ge 3 ] || { echo "--seconds needs a whole number of 3 or more" >&2; exit 2; }
[ -n "$rates" ] || { echo "--rates needs at least one rate" >&2; exit 2; }
for r in $rates; do
    awk -v r="$r" 'BEGIN {exit !(r + 0 > 0 && r + 0 <= 1000)}' || { echo "--rates: $r is not a rate of 0 to 1000" >&2; exit 2; }
done
bench_redraw_if_asked

ensure_deps xvfb
bench_results sweep
bench_build_targets unit-sim bench_sweep
[ -n "$before" ] && bench_build_before "$before" bench_sweep
bench_private_home

builds=(after)
[ -n "$before" ] && builds+=(before)
bench_set seconds "$seconds"
bench_set rates "$rates"
bench_set builds "${builds[*]}"

start_xvfb sweep
sweep_display=$xvfb_display
log "rate sweep on $sweep_display, $seconds s a rate: $rates"
flip=0
for r in $rates; do
    start_sim "sweep-$r" --seed 7 --rate "$r"
    order=("${builds[@]}")
    if [ "$flip" = 1 ] && [ ${#order[@]} = 2 ]; then order=(before after); fi
    flip=$(( 1 - flip ))
    for b in "${order[@]}"; do
        driver=$bin/bench_sweep
        [ "$b" = before ] && driver=$bbin/bench_sweep
        home=$results/home-sweep-$b-$r
        DISPLAY=$sweep_display XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data \
            "${prio[@]}" timeout $(( seconds + 60 )) "$driver" --port "$sim_port" \
            --seconds "$seconds" >"$results/sweep.$b.$r.txt" 2>"$results/sweep.$b.$r.log" \
            || echo "failed=1" >>"$results/sweep.$b.$r.txt"
    done
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
done

bench_save_machine "$results/machine.txt" "$before"
"$bench_root/bench/tables.sh" "$results"
