#!/usr/bin/env bash
# Side by side: every program at once, each on an X server of its own (Xvfb)
# so that each click lands on its own window and each server's CPU is that
# program's share: the real rtviewer idle, fed by unit-sim at 1 and at 10
# packets a second, and at 10 with the full window (More Data); an earlier
# build's viewer the same way; and xterm running nc on the same stream. The
# viewer gets no option of its own: it runs from a folder holding its two
# configuration files, the lookup table pointing at the simulator, and is
# connected by clicking its Connect button with xdotool.
#
#   bench/side.sh                  60 s in 3 rounds
#   bench/side.sh --seconds 20 --rounds 2
#   bench/side.sh --before DIR     also the viewer of a checkout of an
#                                  earlier commit, built into DIR/build-bench
#   bench/side.sh --redraw DIR     the tables again from saved results
#   (and --build DIR, --out DIR, --jobs N: see bench/lib.sh)
#
# Raw results in RESULTS/side/: cpu.tsv (each program's and its X server's
# CPU clock ticks at the start and at the end of each round, with the time),
# rss.RUN.kb (resident memory samples), time.RUN.txt (/usr/bin/time),
# caption.RUN.txt (the window's caption at the end), the simulators' logs,
# run.env.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

seconds=60
rounds=3
before=""
bench_takes_before=1
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=${2:-}; shift 2 ;;
        --rounds) rounds=${2:-}; shift 2 ;;
        *) bench_option "$@"; shift "$bench_took" ;;
    esac
done
before=$bench_before
bench_whole "$seconds" && [ "$seconds" -ge 5 ] || { echo "--seconds needs a whole number of 5 or more" >&2; exit 2; }
bench_whole "$rounds" && [ "$rounds" -ge 1 ] && [ $(( seconds / rounds )) -ge 5 ] \
    || { echo "--rounds needs a whole number of 1 or more, each round at least 5 s" >&2; exit 2; }
bench_redraw_if_asked

ensure_deps xvfb xdotool x11-utils time procps xterm netcat-openbsd
bench_results side
bench_build_targets rtviewer unit-sim
[ -n "$before" ] && bench_build_before "$before" rtviewer
bench_private_home

runs=(idle rate1 rate10 rate10full)
[ -n "$before" ] && runs+=(before-idle before-rate10 before-rate10full)
runs+=(xterm)
bench_set seconds "$seconds"
bench_set rounds "$rounds"
bench_set hz "$(getconf CLK_TCK)"
bench_set runs "${runs[*]}"
bench_set before "$before"

log "side by side, $seconds s in $rounds rounds"
declare -A rate=([idle]=0 [rate1]=1 [rate10]=10 [rate10full]=10 [before-idle]=0 [before-rate10]=10
    [before-rate10full]=10 [xterm]=10)
declare -A vpid tpid wid port dispof xpid pids client
connect_x=150; connect_y=15      # centre of Connect To Server at 96 dpi
moredata_x=336; moredata_y=15    # centre of More Data at 96 dpi
start_caption="Real Time Data Viewer"
# Every connection to a unit-sim started with --seed 7 gets the same stream.
start_sim side-1 --seed 7 --rate 1
port1=$sim_port
start_sim side-10 --seed 7 --rate 10
port10=$sim_port
clients10=0
window_width() { DISPLAY=${dispof[$1]} xdotool getwindowgeometry "${wid[$1]}" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p'; }
for r in "${runs[@]}"; do
    start_xvfb "$r"
    dispof[$r]=$xvfb_display
    xpid[$r]=$xvfb_pid
    case "${rate[$r]}" in
        0) port[$r]=9 ;;
        1) port[$r]=$port1; simlog=$results/unit-sim.side-1.log; client[$r]=1 ;;
        10) port[$r]=$port10; simlog=$results/unit-sim.side-10.log; clients10=$(( clients10 + 1 )); client[$r]=$clients10 ;;
    esac
    if [ "$r" = xterm ]; then
        DISPLAY=${dispof[$r]} xterm -e nc 127.0.0.1 "${port[$r]}" >"$results/xterm.log" 2>&1 &
        vpid[$r]=$!
        started+=("${vpid[$r]}")
        wait_line "$simlog" "client ${client[$r]} connected" 50 || { echo "xterm's nc did not connect" >&2; exit 1; }
        ncpid=$(pgrep -P "${vpid[$r]}" || true)
        [ -n "$ncpid" ] || { echo "xterm did not start nc" >&2; exit 1; }
        pids[$r]="${vpid[$r]} $ncpid"
        continue
    fi
    from=$bin
    case "$r" in before-*) from=$bbin ;; esac
    dir=$(viewer_dir "viewer-$r" "${port[$r]}" "$from")
    # Each viewer keeps its settings and its history in its own folder.
    DISPLAY=${dispof[$r]} XDG_CONFIG_HOME=$dir/config XDG_DATA_HOME=$dir/data \
        /usr/bin/time -v -o "$results/time.$r.txt" "$dir/rtviewer" >"$results/rtviewer.$r.log" 2>&1 &
    tpid[$r]=$!
    started+=("${tpid[$r]}")
    vpid[$r]=""
    for i in $(seq 50); do
        vpid[$r]=$(pgrep -P "${tpid[$r]}" || true)
        [ -n "${vpid[$r]}" ] && break
        sleep 0.1
    done
    [ -n "${vpid[$r]}" ] || { echo "viewer $r did not start" >&2; exit 1; }
    started+=("${vpid[$r]}")
    pids[$r]=${vpid[$r]}
    wid[$r]=$(DISPLAY=${dispof[$r]} timeout 20 xdotool search --sync --onlyvisible --pid "${vpid[$r]}" | head -1)
    [ -n "${wid[$r]}" ] || { echo "viewer $r showed no window" >&2; exit 1; }
    if [ "${rate[$r]}" != 0 ]; then
        for attempt in 1 2 3; do
            DISPLAY=${dispof[$r]} xdotool mousemove --window "${wid[$r]}" $connect_x $connect_y click 1
            wait_line "$simlog" "client ${client[$r]} connected" 50 && break
        done
        grep -q "client ${client[$r]} connected" "$simlog" || { echo "viewer $r did not connect" >&2; exit 1; }
    fi
    case "$r" in *full)
        compact=$(window_width "$r")
        sleep 1.5   # the connect waits one second before it reports
        for attempt in 1 2 3; do
            DISPLAY=${dispof[$r]} xdotool mousemove --window "${wid[$r]}" $moredata_x $moredata_y click 1
            sleep 0.5
            [ "$(window_width "$r")" -gt "$compact" ] && break
        done
        [ "$(window_width "$r")" -gt "$compact" ] || { echo "viewer $r did not open the full window" >&2; exit 1; }
    esac
done
sleep 5   # let the connections settle and the first packets arrive

# CPU ticks of each program (all its processes) and of its X server at the
# start of each round (round 0) and at its end, with the time, in cpu.tsv.
program_ticks() { local p s=0; for p in ${pids[$1]}; do s=$(( s + $(cpu_ticks "$p") )); done; echo "$s"; }
note_round() {
    local round=$1 t r
    t=$(now_ns)
    for r in "${runs[@]}"; do
        printf '%s\t%s\t%s\t%s\t%s\n' "$r" "$round" "$t" "$(program_ticks "$r")" "$(cpu_ticks "${xpid[$r]}")" \
            >>"$results/cpu.tsv"
    done
}
printf 'run\tround\trealtime_ns\tprogram_ticks\txserver_ticks\n' >"$results/cpu.tsv"
for r in "${runs[@]}"; do : >"$results/rss.$r.kb"; done
round_ns=$(( seconds * 1000000000 / rounds ))
t_start=$(now_ns)
note_round 0
for round in $(seq "$rounds"); do
    deadline=$(( t_start + round * round_ns ))
    while :; do
        for r in "${runs[@]}"; do [ "$r" = xterm ] || rss_kb "${vpid[$r]}" >>"$results/rss.$r.kb"; done
        now=$(now_ns)
        [ "$now" -ge "$deadline" ] && break
        left=$(( (deadline - now) / 1000000 ))
        [ "$left" -gt 5000 ] && left=5000
        sleep "$(awk -v l="$left" 'BEGIN {printf "%.3f", l / 1000}')"
    done
    note_round "$round"
done

# A fed viewer has shown packets once its caption is the unit's (or the
# alarm's) instead of the start-up caption; it, and xterm, must still be
# connected at the end.
for r in "${runs[@]}"; do
    shown=1
    if [ "${rate[$r]}" != 0 ]; then
        simlog=$results/unit-sim.side-${rate[$r]}.log
        grep -q "client ${client[$r]} gone" "$simlog" && shown=0
    fi
    if [ "$r" != xterm ]; then
        name=$(DISPLAY=${dispof[$r]} xdotool getwindowname "${wid[$r]}" 2>/dev/null || true)
        echo "$name" >"$results/caption.$r.txt"
        if [ "${rate[$r]}" != 0 ]; then
            case "$name" in *"$start_caption"*) shown=0 ;; esac
        fi
    fi
    bench_set "shown_$r" "$shown"
done
DISPLAY=${dispof[xterm]} import -window root "$results/xterm.png" 2>/dev/null || true
DISPLAY=${dispof[rate10full]} import -window root "$results/rate10full.png" 2>/dev/null || true
for r in "${runs[@]}"; do
    [ "$r" = xterm ] && continue
    kill "${vpid[$r]}" 2>/dev/null || true
done
kill "${vpid[xterm]}" 2>/dev/null || true
for r in "${runs[@]}"; do
    [ "$r" = xterm ] && continue
    wait "${tpid[$r]}" 2>/dev/null || true
done

bench_save_machine "$results/machine.txt" "$before"
"$bench_root/bench/tables.sh" "$results"
