#!/usr/bin/env bash
# Start-up and shut-down on an X server of its own (Xvfb): the real rtviewer
# from exec to its window mapped (as xev sees it), bench_window from exec to
# its first paint (under /usr/bin/time), and bench_window closed as the
# operator closes it, disconnected, to the process gone.
#
#   bench/lifecycle.sh               five runs of each
#   bench/lifecycle.sh --runs 3
#   bench/lifecycle.sh --redraw DIR  the tables again from saved results
#   (and --build DIR, --out DIR, --jobs N: see bench/lib.sh)
#
# Raw results in RESULTS/lifecycle/: one figure a run and a line in
# startup-map.ms, startup-paint.ms, shutdown.ms and shutdown-loop.ms (ms),
# the /usr/bin/time reports in startup-time.txt, the drivers' output, run.env.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

runs=5
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=${2:-}; shift 2 ;;
        *) bench_option "$@"; shift "$bench_took" ;;
    esac
done
bench_whole "$runs" && [ "$runs" -ge 1 ] || { echo "--runs needs a whole number of 1 or more" >&2; exit 2; }
bench_redraw_if_asked

ensure_deps xvfb x11-utils time
bench_results lifecycle
bench_build_targets rtviewer bench_window
bench_private_home
bench_set runs "$runs"

start_xvfb lifecycle
display=$xvfb_display
log "start-up and shut-down on $display, $runs runs"
viewer=$(viewer_dir viewer-startup 9)
: >"$results/startup-map.ms"
: >"$results/startup-paint.ms"
: >"$results/startup-time.txt"
: >"$results/shutdown.ms"
: >"$results/shutdown-loop.ms"
for run in $(seq "$runs"); do
    # The real viewer: from exec to its window being mapped on the server,
    # as xev sees it among the root window's children.
    "${prio[@]}" stdbuf -oL xev -display "$display" -root -event substructure >"$results/xev.$run.txt" 2>&1 &
    xev_pid=$!
    started+=("$xev_pid")
    sleep 0.5
    t0=$(now_ns)
    DISPLAY=$display "${prio[@]}" "$viewer/rtviewer" >"$results/rtviewer-startup.$run.log" 2>&1 &
    viewer_pid=$!
    started+=("$viewer_pid")
    mapped=""
    for i in $(seq 2000); do
        if grep -q '^MapNotify' "$results/xev.$run.txt"; then
            mapped=$(now_ns)
            break
        fi
        sleep 0.005
    done
    [ -n "$mapped" ] && echo $(( (mapped - t0) / 1000 )) | awk '{print $1 / 1000}' >>"$results/startup-map.ms"
    kill "$viewer_pid" "$xev_pid" 2>/dev/null || true
    wait "$viewer_pid" "$xev_pid" 2>/dev/null || true

    # The driver: the same window, from exec to its first paint handed to the
    # server, under /usr/bin/time for the whole process.
    t0=$(now_ns)
    DISPLAY=$display "${prio[@]}" /usr/bin/time -v -o "$results/time.startup.$run.txt" "$bin/bench_window" startup \
        >"$results/bench_window-startup.$run.txt" 2>&1
    painted=$(sed -n 's/^first_paint_realtime_ns=//p' "$results/bench_window-startup.$run.txt")
    [ -n "$painted" ] && echo $(( (painted - t0) / 1000 )) | awk '{print $1 / 1000}' >>"$results/startup-paint.ms"
    cat "$results/time.startup.$run.txt" >>"$results/startup-time.txt"

    # Shut-down while disconnected: from the close request to the process gone.
    DISPLAY=$display "${prio[@]}" "$bin/bench_window" shutdown >"$results/bench_window-shutdown.$run.txt" 2>&1
    gone=$(now_ns)
    closed=$(sed -n 's/^close_realtime_ns=//p' "$results/bench_window-shutdown.$run.txt")
    [ -n "$closed" ] && echo $(( (gone - closed) / 1000 )) | awk '{print $1 / 1000}' >>"$results/shutdown.ms"
    sed -n 's/^close_to_loop_end_ms=//p' "$results/bench_window-shutdown.$run.txt" >>"$results/shutdown-loop.ms"
done

bench_save_machine
"$bench_root/bench/tables.sh" "$results"
