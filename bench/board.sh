#!/usr/bin/env bash
# The fleet board's figures for docs/PERFORMANCE.md: a fleet of unit-sim
# units recorded by rtrecorder into the viewer's own history (one reading a
# unit a second), then the viewer on that history under Xvfb:
#   - its start-up alone, and with --fleet (the board opened, every tile
#     read): the difference is what opening the board costs;
#   - its CPU as a share of one core without the board, then with the board
#     following the history (news once a second, each changed unit read);
#   - its resident memory every 10 s while the board follows;
#   - opening the board's model on an hour of as many units (bench_board,
#     a history of its own): to every tile's latest reading, to every
#     tile's line of the hour, and the longest its thread's timer waited.
#
#   bench/board.sh                       200 units, 120 s recorded first,
#                                        60 s without and 600 s with the board
#   bench/board.sh --units 50 --seconds 120
#   bench/board.sh --hour ...            the history holds the units' last
#                                        hour before the fleet starts
#                                        (bench_board's readings), so the
#                                        board opens on full lines of the
#                                        hour, as at a desk that has been
#                                        recording, instead of lines that
#                                        grow for their first hour
#   bench/board.sh --notify [--units N] [--tries N]
#                                        that row alone: with a server as the
#                                        source, one notification to the tile
#                                        drawn (below)
#   (and --build DIR, --out DIR, --jobs N: see bench/lib.sh)
#
# Raw results in RESULTS/board/: start.tsv (run, ms to the window), cpu.txt,
# rss.tsv (seconds, kB), open.txt (bench_board's runs), the programs' logs;
# run.env.
#
# With --notify: a throwaway PostgreSQL cluster (scripts/pgtest.sh, the
# tests' own), and bench_board notify on it: one reading for each of the
# units, a fleet board following the server, then --tries times (default
# 20) one reading of one unit written and committed, timed from the commit
# acknowledged to the tile drawn with the new value. Raw results in
# RESULTS/board-notify/notify.txt.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

units=200
warm=120
baseline=60
seconds=600
notify=0
hour=0
tries=20
while [ $# -gt 0 ]; do
    case "$1" in
        --notify) notify=1; shift ;;
        --hour) hour=1; shift ;;
        --tries) tries=${2:-}; shift 2 ;;
        --units) units=${2:-}; shift 2 ;;
        --warm) warm=${2:-}; shift 2 ;;
        --seconds) seconds=${2:-}; shift 2 ;;
        *) bench_option "$@"; shift "$bench_took" ;;
    esac
done
for value in "$units" "$warm" "$seconds" "$tries"; do
    bench_whole "$value" && [ "$value" -ge 1 ] || { echo "--units, --warm, --seconds and --tries need whole numbers of 1 or more" >&2; exit 2; }
done

if [ "$notify" = 1 ]; then
    bench_results board-notify
    bench_build_targets bench_board
    bench_set units "$units"
    bench_set tries "$tries"
    # shellcheck source=../scripts/pgtest.sh
    source "$bench_root/scripts/pgtest.sh"
    trap 'bench_cleanup; pg_test_stop' EXIT
    pg_test_start >"$results/server.log" 2>&1
    [ -n "${RTVIEWER_TEST_PGURI:-}" ] || { cat "$results/server.log" >&2; exit 1; }
    log "one notification to the tile drawn, $tries tries on $units units"
    QT_QPA_PLATFORM=offscreen "${prio[@]}" "$bin/bench_board" notify --db "$RTVIEWER_TEST_PGURI" --units "$units" \
        --tries "$tries" >"$results/notify.txt" 2>"$results/bench_board.log"
    bench_save_machine
    echo
    echo "| $units units on a server, one reading of one unit | Figure | Target |"
    echo "|---|---|---|"
    echo "| the write, to the commit acknowledged (median of $tries) | $(awk '$1 == "try" {print $6}' "$results/notify.txt" | median) ms | |"
    echo "| commit to the tile drawn with the new value, median of $tries | $(awk '$1 == "try" {print $10}' "$results/notify.txt" | median) ms | under 1 s |"
    echo "| commit to the tile drawn, worst of $tries | $(awk '$1 == "try" {print $10}' "$results/notify.txt" | maximum) ms | under 1 s |"
    exit 0
fi

bench_results board
bench_build_targets rtviewer rtrecorder unit-sim bench_board
bench_set units "$units"
bench_set seconds "$seconds"
bench_private_home
ulimit -n 8192
history=$XDG_DATA_HOME/rtviewer/history.sqlite3
mkdir -p "$(dirname "$history")"
bench_set hour "$hour"
if [ "$hour" = 1 ]; then
    log "the last hour of $units units written first"
    "${prio[@]}" "$bin/bench_board" --units "$units" --minutes 60 --runs 0 --db "$history" 2>"$results/hour.log" \
        || { cat "$results/hour.log" >&2; exit 1; }
fi

log "$units units recorded for $warm s"
"${prio[@]}" "$bin/unit-sim" --units "$units" --port 0 --write-lookup "$results/lookup.txt" 2>"$results/unit-sim.log" &
started+=("$!")
wait_line "$results/unit-sim.log" "units listening" 300
"${prio[@]}" "$bin/rtrecorder" --lookup "$results/lookup.txt" --db "$history" 2>"$results/rtrecorder.log" &
started+=("$!")
sleep "$warm"

start_xvfb board
export DISPLAY=$xvfb_display
dir=$(viewer_dir viewer 1)

# Starts the viewer and waits for the window named: sets viewer_pid and
# viewer_ms, the milliseconds from the start to the window shown. Not in a
# subshell: the viewer must be known to the clean-up.
viewer_pid=""
viewer_ms=""
start_viewer() {
    local title=$1
    shift
    local t0
    t0=$(now_ns)
    "${prio[@]}" "$dir/rtviewer" "$@" >>"$results/rtviewer.log" 2>&1 &
    viewer_pid=$!
    started+=("$viewer_pid")
    timeout 60 xdotool search --sync --onlyvisible --name "$title" >/dev/null
    viewer_ms=$(( ($(now_ns) - t0) / 1000000 ))
}
stop_viewer() {
    kill -TERM "$viewer_pid"
    wait "$viewer_pid" 2>/dev/null || true
}

: >"$results/start.tsv"
for run in 1 2 3; do
    start_viewer 'Real Time Data Viewer'
    printf 'alone\t%s\n' "$viewer_ms" >>"$results/start.tsv"
    stop_viewer
    start_viewer '^Fleet board$' --fleet
    printf 'fleet\t%s\n' "$viewer_ms" >>"$results/start.tsv"
    stop_viewer
done

log "the viewer without the board for $baseline s"
start_viewer 'Real Time Data Viewer'
sleep 5
ticks0=$(cpu_ticks "$viewer_pid")
sleep "$baseline"
ticks1=$(cpu_ticks "$viewer_pid")
stop_viewer

log "the board following the history for $seconds s"
start_viewer '^Fleet board$' --fleet
sleep 5
ticks2=$(cpu_ticks "$viewer_pid")
: >"$results/rss.tsv"
t=0
while [ "$t" -lt "$seconds" ]; do
    sleep 10
    t=$((t + 10))
    printf '%s\t%s\n' "$t" "$(rss_kb "$viewer_pid")" >>"$results/rss.tsv"
done
ticks3=$(cpu_ticks "$viewer_pid")
stop_viewer

log "opening the board on an hour of $units units"
"${prio[@]}" "$bin/bench_board" --units "$units" --minutes 60 --runs 3 >"$results/open.txt" 2>"$results/bench_board.log"

hz=$(getconf CLK_TCK)
awk -v a="$((ticks1 - ticks0))" -v b="$((ticks3 - ticks2))" -v hz="$hz" -v s0="$baseline" -v s1="$seconds" \
    'BEGIN {printf "alone %.2f\nboard %.2f\n", 100 * a / hz / s0, 100 * b / hz / s1}' >"$results/cpu.txt"
bench_save_machine

alone=$(awk '$1 == "alone" {print $2}' "$results/start.tsv" | median)
fleet=$(awk '$1 == "fleet" {print $2}' "$results/start.tsv" | median)
echo
echo "| $units units, one reading a unit a second | Figure | Target |"
echo "|---|---|---|"
echo "| start-up, viewer alone (median of 3) | $alone ms | |"
echo "| start-up with --fleet, to the board shown (median of 3) | $fleet ms | |"
echo "| opening the board (the difference) | $((fleet - alone)) ms | under 500 ms |"
echo "| opening on an hour, to every tile's latest reading (median of 3) | $(awk '{print $2}' "$results/open.txt" | median) ms | under 500 ms |"
echo "| opening on an hour, to every tile's line of the hour (median of 3) | $(awk '{print $4}' "$results/open.txt" | median) ms | |"
echo "| longest the window's thread waited while opening (of 3) | $(awk '{print $6}' "$results/open.txt" | maximum) ms | |"
echo "| CPU, viewer without the board | $(awk '$1 == "alone" {print $2}' "$results/cpu.txt") % of a core | |"
echo "| CPU, viewer with the board following | $(awk '$1 == "board" {print $2}' "$results/cpu.txt") % of a core | under 5 % |"
echo "| resident memory at 10 s, at the end, highest | $(head -1 "$results/rss.tsv" | cut -f2) kB, $(tail -1 "$results/rss.tsv" | cut -f2) kB, $(cut -f2 "$results/rss.tsv" | maximum) kB | flat |"
