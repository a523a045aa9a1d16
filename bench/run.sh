#!/usr/bin/env bash
# Builds the viewer and the benchmarks in Release into build-bench/, runs the
# hot-path benchmarks and the whole-program measurements, and prints the
# tables. Everything is measured here, with public tools: Google Benchmark,
# /usr/bin/time, valgrind's callgrind, the kernel's per-process counters
# (/proc/PID/stat and /proc/PID/status), and X servers of its own (Xvfb)
# with xdotool and xev to find, click and watch the windows, and xterm with
# nc as the raw terminal beside the viewer.
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
#   bench/run.sh --jobs N         build jobs (default 2)
#
# The tables go to stdout and to build-bench/bench-results/table.md; the raw
# output of every step stays beside them. The viewer itself gets no option
# and no variable of its own: it runs from a folder of its own holding the two
# configuration files, its lookup table pointing at a unit-sim on a free port,
# and is connected by clicking its Connect button.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=60
rounds=3
sweep_seconds=20
rates="9.5 10 10.2 12.5 20 50 100 1000"
sweep=1
jobs=2
before=""
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --rounds) rounds=$2; shift 2 ;;
        --sweep-seconds) sweep_seconds=$2; shift 2 ;;
        --rates) rates=$2; shift 2 ;;
        --no-sweep) sweep=0; shift ;;
        --quick) seconds=20; rounds=2; sweep_seconds=8; shift ;;
        --before) before=$(cd "$2" && pwd); shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        -h|--help) sed -n '2,30p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
    esac
done
whole() { case "$1" in ''|*[!0-9]*) return 1 ;; esac; }
whole "$seconds" && [ "$seconds" -ge 5 ] || { echo "--seconds needs a whole number of 5 or more" >&2; exit 2; }
whole "$rounds" && [ "$rounds" -ge 1 ] && [ $(( seconds / rounds )) -ge 5 ] \
    || { echo "--rounds needs a whole number of 1 or more, each round at least 5 s" >&2; exit 2; }
whole "$sweep_seconds" && [ "$sweep_seconds" -ge 3 ] || { echo "--sweep-seconds needs a whole number of 3 or more" >&2; exit 2; }
for r in $rates; do
    awk -v r="$r" 'BEGIN {exit !(r + 0 > 0 && r + 0 <= 1000)}' || { echo "--rates: $r is not a rate of 0 to 1000" >&2; exit 2; }
done
if [ -n "$before" ] && [ ! -f "$before/src/app/fm_more_data.h" ]; then
    echo "--before: $before is not a checkout of the viewer" >&2
    exit 2
fi

source scripts/deps.sh
ensure_deps libbenchmark-dev xvfb xdotool x11-utils time valgrind procps xterm netcat-openbsd

build=$root/build-bench
bin=$build/bin
results=$build/bench-results
rm -rf "$results"
mkdir -p "$results"

log() { printf '== %s\n' "$*" >&2; }
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)

# ---------------------------------------------------------------- build
log "building (Release) into $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DRTVIEWER_BENCH=ON >"$results/cmake.log"
cmake --build "$build" -j"$jobs" --target rtviewer unit-sim bench_window bench_sweep bench_parser bench_display \
    >"$results/build.log" 2>&1 || { tail -30 "$results/build.log" >&2; exit 1; }
if [ -n "$before" ]; then
    # The earlier tree with this tree's whole-window drivers built against
    # it (bench/before/addsweep.cmake); its own benchmarks stay out.
    log "building the earlier tree (Release) into $before/build-bench"
    cmake -S "$before" -B "$before/build-bench" -DCMAKE_BUILD_TYPE=Release -DRTVIEWER_BENCH=OFF \
        -DCMAKE_PROJECT_INCLUDE="$root/bench/before/addsweep.cmake" >"$results/cmake-before.log"
    cmake --build "$before/build-bench" -j"$jobs" --target rtviewer bench_window bench_sweep \
        >"$results/build-before.log" 2>&1 || { tail -30 "$results/build-before.log" >&2; exit 1; }
fi
bbin=${before:+$before/build-bench/bin}

# ---------------------------------------------------------------- helpers
started=()
cleanup() {
    local pid
    for pid in "${started[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${started[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT

# The viewer and the drivers find their own platform (xcb on our X servers);
# nothing inherited may send them offscreen. Whatever they keep (settings,
# the history) stays in the results.
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR=$results/runtime XDG_CONFIG_HOME=$results/home/config \
    XDG_DATA_HOME=$results/home/data XDG_CACHE_HOME=$results/home/cache
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
chmod 700 "$XDG_RUNTIME_DIR"

# Where allowed, the timed processes (and their X servers) run ahead of other
# work (nice -10); their CPU time and instruction counts do not depend on it.
prio=()
if nice -n -10 true 2>/dev/null; then
    prio=(nice -n -10)
fi

# Starts an X server on a free display and sets xvfb_display to ":N" and
# xvfb_pid. Not to be called in a subshell: the server must be known to the
# clean-up.
xvfb_display=""
xvfb_pid=""
start_xvfb() {
    local name=$1 fdfile=$results/xvfb-$1.display i
    : >"$fdfile"
    "${prio[@]}" Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp 3>"$fdfile" >"$results/xvfb-$name.log" 2>&1 &
    xvfb_pid=$!
    started+=($xvfb_pid)
    for i in $(seq 100); do
        if [ -s "$fdfile" ]; then
            xvfb_display=":$(head -1 "$fdfile")"
            return 0
        fi
        sleep 0.1
    done
    echo "Xvfb did not start (see $results/xvfb-$name.log)" >&2
    return 1
}

# Starts a unit-sim with the given options on a free port and sets sim_port
# and sim_pid.
sim_port=""
sim_pid=""
start_sim() {
    local name=$1
    shift
    "$bin/unit-sim" --port 0 --seed 7 "$@" >"$results/unit-sim.$name.log" 2>&1 &
    sim_pid=$!
    started+=($sim_pid)
    wait_line "$results/unit-sim.$name.log" "listening on" 50 || { echo "unit-sim did not start" >&2; exit 1; }
    sim_port=$(sed -n '1s/.*://p' "$results/unit-sim.$name.log")
}

# A folder with a viewer and its two files (from the given bin folder), the
# lookup table pointing unit 0001 at the given port.
viewer_dir() {
    local dir=$results/$1 port=$2 from=${3:-$bin}
    mkdir -p "$dir"
    cp "$from/rtviewer" "$from/RDconfig.ini" "$dir/"
    printf '0001 127.0.0.1 %s\r\n' "$port" >"$dir/RDVlookup.TXT"
    echo "$dir"
}

# CPU time of a whole process, all its threads, in clock ticks: utime + stime
# of /proc/PID/stat (counted after the command name, which may hold blanks).
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
hz=$(getconf CLK_TCK)
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
now_ns() { local t=$EPOCHREALTIME; echo "${t/./}000"; }
median() { sort -g | awk '{v[NR]=$1} END {if (NR==0) print "nan"; else if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }
maximum() { sort -g | tail -1; }
minimum() { sort -g | head -1; }
fmt() { awk -v v="$1" -v f="$2" 'BEGIN {if (v == "nan" || v == "") print "n/a"; else printf f, v}'; }
# Thousands separators for a whole number.
group() { awk -v v="$1" 'BEGIN {s=sprintf("%.0f", v); o=""; while (length(s) > 3) {o="," substr(s, length(s)-2) o; s=substr(s, 1, length(s)-3)} print s o}'; }
yesno() { awk -v c="$1" 'BEGIN {print (c ? "yes" : "**no**")}'; }
# Millions, two decimals.
mega() { awk -v v="$1" 'BEGIN {if (v == "" || v == "nan") print "n/a"; else printf "%.2f M", v / 1e6}'; }

# Waits for a line matching the pattern in a file; fails after the timeout.
wait_line() {
    local file=$1 pattern=$2 tenths=$3 i
    for i in $(seq "$tenths"); do
        grep -q -- "$pattern" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# ---------------------------------------------------------------- recording
# A unit-sim stream of 10 packets a second, recorded while the benchmarks
# run, is replayed packet by packet under callgrind later. A fixed start time
# makes the packets the same byte for byte on every run.
log "recording 25 s of unit-sim's stream for the replay"
start_sim capture --rate 10 --start-time 2024-05-14T06:00:00
capture_sim=$sim_pid
timeout 25 bash -c "cat </dev/tcp/127.0.0.1/$sim_port" >"$results/stream-10.bin" 2>/dev/null &
capture_pid=$!
started+=($capture_pid)

# ---------------------------------------------------------------- benchmarks
log "Google Benchmark: parser"
"$bin/bench_parser" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_out="$results/bench_parser.csv" --benchmark_out_format=csv \
    >"$results/bench_parser.txt" 2>&1
log "Google Benchmark: display (offscreen)"
QT_QPA_PLATFORM=offscreen "$bin/bench_display" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_out="$results/bench_display.csv" --benchmark_out_format=csv \
    >"$results/bench_display.txt" 2>&1

# field of the median row of a benchmark: cpu_time (4) bytes/s (6) items/s (7) error (9)
gb() {
    awk -F, -v want="\"$2_median\"" -v col="$3" '$1 == want {gsub(/"/, "", $col); print $col; found=1}
        END {if (!found) print "nan"}' "$results/$1.csv"
}
gb_ok() { [ "$(gb "$1" "$2" 9)" != "true" ] && [ "$(gb "$1" "$2" 7)" != "nan" ]; }

# ---------------------------------------------------------------- callgrind
log "callgrind: instructions per parser call and per window tick"
callgrind_count() {  # output-name collect-pattern command...
    local name=$1 pattern=$2
    shift 2
    valgrind --tool=callgrind --callgrind-out-file="$results/callgrind.$name.out" --collect-atstart=no \
        --toggle-collect="$pattern" "$@" >"$results/callgrind.$name.txt" 2>&1
    local n
    n=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$results/callgrind.$name.txt")
    echo "${n:-0}"
}
parser_calls=10000
ir_packet=$(( $(callgrind_count parser-packet '*runParserCalls*' "$bin/bench_parser" count packet $parser_calls) / parser_calls ))
ir_wits=$(( $(callgrind_count parser-wits '*runParserCalls*' "$bin/bench_parser" count wits 2000) / 2000 ))
ir_status=$(( $(callgrind_count parser-status '*runParserCalls*' "$bin/bench_parser" count status $parser_calls) / parser_calls ))
window_ticks=200
ir_tick_idle=$(( $(QT_QPA_PLATFORM=offscreen callgrind_count ticks-idle '*runTicks*' "$bin/bench_window" ticks $window_ticks) / window_ticks ))
ir_tick_packet=$(( $(QT_QPA_PLATFORM=offscreen callgrind_count ticks-packet '*runTicks*' "$bin/bench_window" packets $window_ticks) / window_ticks ))
QT_QPA_PLATFORM=offscreen valgrind --tool=callgrind --callgrind-out-file="$results/callgrind.startup.out" \
    "$bin/bench_window" startup >"$results/callgrind.startup.txt" 2>&1
ir_startup=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$results/callgrind.startup.txt")

wait "$capture_pid" 2>/dev/null || true
kill "$capture_sim" 2>/dev/null || true
replay_packets=$(tr -cd '*' <"$results/stream-10.bin" | wc -c)
[ "$replay_packets" -gt 20 ] || { echo "the recording of unit-sim's stream holds only $replay_packets packets" >&2; exit 1; }
replay_ticks=$(( replay_packets - 1 < window_ticks ? replay_packets - 1 : window_ticks ))

# The same replay, one packet a tick, through each build and window size;
# the parts named below are read from each profile, inclusive, per packet.
log "callgrind: the recorded stream replayed, $replay_ticks packets"
declare -A ir_replay
replay_runs=(after-full after-compact)
[ -n "$before" ] && replay_runs+=(before-full before-compact)
for run in "${replay_runs[@]}"; do
    driver=$bin/bench_window
    [ "${run%%-*}" = before ] && driver=$bbin/bench_window
    size=()
    [ "${run#*-}" = compact ] && size=(compact)
    ir_replay[$run]=$(( $(QT_QPA_PLATFORM=offscreen callgrind_count "replay-$run" '*runTicks*' "$driver" replay \
        "$results/stream-10.bin" "$replay_ticks" "${size[@]}") / replay_ticks ))
    callgrind_annotate --inclusive=yes --threshold=100 "$results/callgrind.replay-$run.out" \
        >"$results/callgrind.replay-$run.annotated.txt" 2>/dev/null
done
# Inclusive instructions per packet of the first function whose name starts
# with the given text, in a replay's profile; 0 when it did not run.
part() {
    awk -v want="???:$2" -v ticks="$replay_ticks" 'index($0, want) {gsub(/,/, "", $1); printf "%.0f\n", $1 / ticks; found=1; exit}
        END {if (!found) print 0}' "$results/callgrind.replay-$1.annotated.txt"
}
if [ -n "$before" ]; then
    ir_before_synthetic=$(( $(QT_QPA_PLATFORM=offscreen callgrind_count ticks-packet-before '*runTicks*' "$bbin/bench_window" packets $window_ticks) / window_ticks ))
fi

# ---------------------------------------------------------------- start-up and shut-down
start_xvfb lifecycle
display=$xvfb_display
log "start-up and shut-down on $display"
viewer=$(viewer_dir viewer-startup 9)
: >"$results/startup-map.ms"
: >"$results/startup-paint.ms"
: >"$results/startup-time.txt"
: >"$results/shutdown.ms"
: >"$results/shutdown-loop.ms"
for run in 1 2 3 4 5; do
    # The real viewer: from exec to its window being mapped on the server,
    # as xev sees it among the root window's children.
    "${prio[@]}" stdbuf -oL xev -display "$display" -root -event substructure >"$results/xev.$run.txt" 2>&1 &
    xev_pid=$!
    started+=($xev_pid)
    sleep 0.5
    t0=$(now_ns)
    DISPLAY=$display "${prio[@]}" "$viewer/rtviewer" >"$results/rtviewer-startup.$run.log" 2>&1 &
    viewer_pid=$!
    started+=($viewer_pid)
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
startup_map=$(median <"$results/startup-map.ms")
startup_map_max=$(maximum <"$results/startup-map.ms")
startup_paint=$(median <"$results/startup-paint.ms")
startup_paint_max=$(maximum <"$results/startup-paint.ms")
startup_elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s * 1000}' \
    "$results/startup-time.txt" | median)
startup_cpu=$(awk -F': ' '/User time/ {u = $2} /System time/ {print (u + $2) * 1000}' "$results/startup-time.txt" | median)
startup_rss=$(awk -F': ' '/Maximum resident set size/ {print $2 / 1024}' "$results/startup-time.txt" | median)
shutdown=$(median <"$results/shutdown.ms")
shutdown_max=$(maximum <"$results/shutdown.ms")
shutdown_loop=$(median <"$results/shutdown-loop.ms")

# ---------------------------------------------------------------- side by side
# Every program at once, each on an X server of its own so that each click
# lands on its own window and each server's CPU is that program's share:
# viewers idle, fed at 1 and at 10 packets a second, and fed at 10 with the
# full window (More Data) showing the traffic window; the earlier build's
# viewer the same way; and xterm running nc on the same stream. Every
# connection to a unit-sim started with --seed 7 gets the same stream.
log "side by side, $seconds s in $rounds rounds"
runs=(idle rate1 rate10 rate10full)
[ -n "$before" ] && runs+=(before-idle before-rate10 before-rate10full)
runs+=(xterm)
declare -A rate=([idle]=0 [rate1]=1 [rate10]=10 [rate10full]=10 [before-idle]=0 [before-rate10]=10
    [before-rate10full]=10 [xterm]=10)
declare -A vpid tpid wid port dispof xpid pids client
connect_x=150; connect_y=15      # centre of Connect To Server at 96 dpi
moredata_x=336; moredata_y=15    # centre of More Data at 96 dpi
start_caption="Real Time Data Viewer"
start_sim side-1 --rate 1
port1=$sim_port
start_sim side-10 --rate 10
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
# start of each round and at the end.
program_ticks() { local p s=0; for p in ${pids[$1]}; do s=$(( s + $(cpu_ticks "$p") )); done; echo "$s"; }
declare -A cpu_at xcpu_at
round_ns=$(( seconds * 1000000000 / rounds ))
t_start=$(now_ns)
for r in "${runs[@]}"; do
    cpu_at[$r,0]=$(program_ticks "$r")
    xcpu_at[$r,0]=$(cpu_ticks "${xpid[$r]}")
    : >"$results/rss.$r.kb"
done
declare -A t_at=([0]=$t_start)
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
    t_at[$round]=$(now_ns)
    for r in "${runs[@]}"; do
        cpu_at[$r,$round]=$(program_ticks "$r")
        xcpu_at[$r,$round]=$(cpu_ticks "${xpid[$r]}")
    done
done
t_end=${t_at[$rounds]}
# % of one core over the whole window, and each round's for the spread.
pct() { awk -v c="$1" -v t="$2" -v hz="$hz" 'BEGIN {printf "%.3f", 100 * c / hz / (t / 1e9)}'; }
declare -A cpu_pct xcpu_pct cpu_lo cpu_hi rss_start rss_end rss_max rss_time caption_ok
for r in "${runs[@]}"; do
    cpu_pct[$r]=$(pct $(( cpu_at[$r,$rounds] - cpu_at[$r,0] )) $(( t_end - t_start )))
    xcpu_pct[$r]=$(pct $(( xcpu_at[$r,$rounds] - xcpu_at[$r,0] )) $(( t_end - t_start )))
    : >"$results/rounds.$r.pct"
    for round in $(seq "$rounds"); do
        pct $(( cpu_at[$r,$round] - cpu_at[$r,$((round - 1))] )) $(( t_at[$round] - t_at[$((round - 1))] )) \
            >>"$results/rounds.$r.pct"
        echo >>"$results/rounds.$r.pct"
    done
    cpu_lo[$r]=$(minimum <"$results/rounds.$r.pct")
    cpu_hi[$r]=$(maximum <"$results/rounds.$r.pct")
    caption_ok[$r]=1
    if [ "$r" = xterm ]; then
        grep -q "client ${client[$r]} gone" "$results/unit-sim.side-10.log" && caption_ok[$r]=0
        continue
    fi
    rss_start[$r]=$(head -1 "$results/rss.$r.kb")
    rss_end[$r]=$(tail -1 "$results/rss.$r.kb")
    rss_max[$r]=$(maximum <"$results/rss.$r.kb")
    name=$(DISPLAY=${dispof[$r]} xdotool getwindowname "${wid[$r]}" 2>/dev/null || true)
    echo "$name" >"$results/caption.$r.txt"
    # A fed viewer has shown packets once its caption is the unit's (or the
    # alarm's) instead of the start-up caption; it must still be connected.
    if [ "${rate[$r]}" != 0 ]; then
        case "$name" in *"$start_caption"*) caption_ok[$r]=0 ;; esac
        simlog=$results/unit-sim.side-${rate[$r]}.log
        grep -q "client ${client[$r]} gone" "$simlog" && caption_ok[$r]=0
    fi
done
DISPLAY=${dispof[xterm]} import -window root "$results/xterm.png" 2>/dev/null || true
[ -n "${dispof[rate10full]:-}" ] && { DISPLAY=${dispof[rate10full]} import -window root "$results/rate10full.png" 2>/dev/null || true; }
for r in "${runs[@]}"; do
    [ "$r" = xterm ] && continue
    kill "${vpid[$r]}" 2>/dev/null || true
done
kill "${vpid[xterm]}" 2>/dev/null || true
for r in "${runs[@]}"; do
    [ "$r" = xterm ] && continue
    wait "${tpid[$r]}" 2>/dev/null || true
    rss_time[$r]=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$results/time.$r.txt")
done

# ---------------------------------------------------------------- rate sweep
# For each rate, a unit-sim of its own and, one after the other, the driver
# built against each tree (bench_sweep: the real window, full size, on a real
# socket behind a relay that notes each packet's arrival). The order of the
# two builds alternates from rate to rate.
sweep_builds=(after)
[ -n "$before" ] && sweep_builds+=(before)
if [ "$sweep" = 1 ]; then
    start_xvfb sweep
    sweep_display=$xvfb_display
    log "rate sweep on $sweep_display, $sweep_seconds s a rate: $rates"
    flip=0
    for r in $rates; do
        start_sim "sweep-$r" --rate "$r"
        order=("${sweep_builds[@]}")
        if [ "$flip" = 1 ] && [ ${#order[@]} = 2 ]; then order=(before after); fi
        flip=$(( 1 - flip ))
        for b in "${order[@]}"; do
            driver=$bin/bench_sweep
            [ "$b" = before ] && driver=$bbin/bench_sweep
            home=$results/home-sweep-$b-$r
            DISPLAY=$sweep_display XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data \
                "${prio[@]}" timeout $(( sweep_seconds + 60 )) "$driver" --port "$sim_port" \
                --seconds "$sweep_seconds" >"$results/sweep.$b.$r.txt" 2>"$results/sweep.$b.$r.log" \
                || echo "failed=1" >>"$results/sweep.$b.$r.txt"
        done
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    done
fi
sv() { awk -F= -v k="$3" '$1 == k {print $2; found=1} END {if (!found) print "nan"}' "$results/sweep.$1.$2.txt" 2>/dev/null || echo nan; }

# ---------------------------------------------------------------- tables
mb() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
# "N unit/s, M MB/s (T ns CPU a call)" from the median row of a benchmark.
rate_row() {
    local csv=$1 bm=$2 unit=$3
    gb_ok "$csv" "$bm" || { printf 'failed (see %s.txt)' "$csv"; return; }
    printf '%s %s/s, %s MB/s (%s ns CPU a call)' "$(group "$(gb "$csv" "$bm" 7)")" "$unit" \
        "$(awk -v b="$(gb "$csv" "$bm" 6)" 'BEGIN {printf "%.1f", b / 1e6}')" "$(fmt "$(gb "$csv" "$bm" 4)" '%.0f')"
}
# "T µs CPU (N unit/s)" from the median row of a benchmark timed in µs.
us_row() {
    local csv=$1 bm=$2 unit=$3
    gb_ok "$csv" "$bm" || { printf 'failed (see %s.txt)' "$csv"; return; }
    printf '%s µs CPU (%s %s/s)' "$(fmt "$(gb "$csv" "$bm" 4)" '%.0f')" "$(group "$(gb "$csv" "$bm" 7)")" "$unit"
}
flat() {  # start end, in kB: flat when it grew by at most 1 MB over the window
    awk -v a="$1" -v b="$2" 'BEGIN {d = (b - a) / 1024; printf "%s (%+.1f MB)", (d <= 1.0 ? "flat" : "**grew**"), d}'
}
fed_row() {
    local r=$1
    if [ "${caption_ok[$r]}" = 1 ]; then
        printf '%s %% \\| RSS %s → %s MB, %s; max %s MB sampled, %s MB over the whole run (/usr/bin/time)' \
            "${cpu_pct[$r]}" "$(mb "${rss_start[$r]}")" "$(mb "${rss_end[$r]}")" \
            "$(flat "${rss_start[$r]}" "${rss_end[$r]}")" "$(mb "${rss_max[$r]}")" "$(mb "${rss_time[$r]}")"
    else
        printf 'not measured: no packets shown (see %s)' "$results/caption.$r.txt"
    fi
}
met_fed() {  # run, CPU limit in %
    local r=$1
    yesno "$(awk -v ok="${caption_ok[$r]}" -v c="${cpu_pct[$r]}" -v l="$2" -v m="${rss_time[$r]}" \
        -v a="${rss_start[$r]}" -v b="${rss_end[$r]}" 'BEGIN {print (ok && c < l && m < 61440 && b - a <= 1024)}')"
}

packets_ps=$(gb bench_parser BM_parse_data_packet 7)
{
    echo "| Figure | Measured | Target | Met |"
    echo "|---|---|---|---|"
    echo "| Parser: one call on a typical 40-field packet with its checksum | $(rate_row bench_parser BM_parse_data_packet packets) | ≥ 1,000,000 packets/s on one core | $(yesno "$(awk -v p="$packets_ps" 'BEGIN {print (p != "nan" && p >= 1000000)}')") |"
    echo "| Parser: instructions per typical packet (callgrind) | $(group "$ir_packet") | | |"
    echo "| Parser: one call on a WITS record of ten items | $(rate_row bench_parser BM_parse_wits_record records); $(group "$ir_wits") instructions a record | | |"
    echo "| Parser: one call on five status messages | $(rate_row bench_parser BM_parse_five_status_messages messages); $(group "$ir_status") instructions a call | | |"
    echo "| populate_moredata, one packet, the call alone | $(us_row bench_display 'BM_populate_moredata/paint:0' packets) | | |"
    echo "| populate_moredata, one packet, with the repaint | $(us_row bench_display 'BM_populate_moredata/paint:1' packets) | | |"
    echo "| disply_text at the trim boundary (1001 characters, every call trims), the call alone (the text kept; the screen follows within 200 ms) | $(us_row bench_display 'BM_disply_text_trim/paint:0' calls) | | |"
    echo "| disply_text at the trim boundary, with the traffic window's screen update and the repaint after each call | $(us_row bench_display 'BM_disply_text_trim/paint:1' calls) | | |"
    echo "| disply_text, one packet of about 250 characters (trims as they fall), with the screen update and the repaint after each call | $(us_row bench_display 'BM_disply_text_packet/paint:1' packets) | | |"
    echo "| Window tick with one packet whose every reading changed: poll, parser, populate_moredata, traffic window, status line, repaint (full window, offscreen, callgrind) | $(group "$ir_tick_packet") instructions | | |"
    echo "| Window tick with one packet of unit-sim's stream, full window (replayed, offscreen, callgrind) | $(group "${ir_replay[after-full]}") instructions | < 2,500,000 | $(yesno "$(awk -v v="${ir_replay[after-full]}" 'BEGIN {print (v < 2500000)}')") |"
    echo "| Window tick with one packet of unit-sim's stream, compact window (replayed, offscreen, callgrind) | $(group "${ir_replay[after-compact]}") instructions | | |"
    echo "| Window tick with nothing received, disconnected (offscreen, callgrind) | $(group "$ir_tick_idle") instructions | | |"
    echo "| Start-up: rtviewer exec to its window mapped (Xvfb), median of 5 | $(fmt "$startup_map" '%.0f') ms (max $(fmt "$startup_map_max" '%.0f') ms) | ≤ 500 ms | $(yesno "$(awk -v v="$startup_map_max" 'BEGIN {print (v != "nan" && v <= 500)}')") |"
    echo "| Start-up: exec to the first paint of the window (bench_window, Xvfb), median of 5 | $(fmt "$startup_paint" '%.0f') ms (max $(fmt "$startup_paint_max" '%.0f') ms); whole process $(fmt "$startup_elapsed" '%.0f') ms wall, $(fmt "$startup_cpu" '%.0f') ms CPU, max RSS $(fmt "$startup_rss" '%.1f') MB (/usr/bin/time) | ≤ 500 ms | $(yesno "$(awk -v v="$startup_paint_max" 'BEGIN {print (v != "nan" && v <= 500)}')") |"
    echo "| Start-up: instructions from exec to the first paint and exit (offscreen, callgrind) | $(group "$ir_startup") | | |"
    echo "| Idle, disconnected, $seconds s: CPU of one core (whole process) \\| resident memory | $(fed_row idle) | < 0.2 % \\| < 60 MB, flat | $(met_fed idle 0.2) |"
    echo "| Fed by unit-sim at 1 packet/s, $seconds s: CPU \\| resident memory | $(fed_row rate1) | < 2 % \\| < 60 MB, flat | $(met_fed rate1 2) |"
    echo "| Fed by unit-sim at 10 packets/s, $seconds s: CPU \\| resident memory | $(fed_row rate10) | < 1.0 % \\| < 60 MB, flat | $(met_fed rate10 1.0) |"
    echo "| Fed at 10 packets/s with the full window (More Data), $seconds s: CPU \\| resident memory | $(fed_row rate10full) | < 1.3 % \\| < 60 MB, flat | $(met_fed rate10full 1.3) |"
    echo "| Shut-down, disconnected: close to process gone (bench_window, Xvfb), median of 5 | $(fmt "$shutdown" '%.1f') ms (max $(fmt "$shutdown_max" '%.1f') ms; close to the end of the event loop $(fmt "$shutdown_loop" '%.2f') ms) | ≤ 200 ms | $(yesno "$(awk -v v="$shutdown_max" 'BEGIN {print (v != "nan" && v <= 200)}')") |"
} >"$results/table.md"

# Side by side: % of one core over the whole window (the rounds' lowest and
# highest in brackets), the program's X server, and both together.
side_row() {  # run, label, target (empty for none), limit
    local r=$1 label=$2 target=${3:-} limit=${4:-}
    local cpu="${cpu_pct[$r]} % (${cpu_lo[$r]}–${cpu_hi[$r]})"
    [ "${caption_ok[$r]}" = 1 ] || cpu="not measured: no packets shown"
    local met=""
    [ -n "$limit" ] && met=$(yesno "$(awk -v ok="${caption_ok[$r]}" -v c="${cpu_pct[$r]}" -v l="$limit" 'BEGIN {print (ok && c < l)}')")
    printf '| %s | %s | %s %% | %s %% | %s | %s |\n' "$label" "$cpu" "${xcpu_pct[$r]}" \
        "$(awk -v a="${cpu_pct[$r]}" -v b="${xcpu_pct[$r]}" 'BEGIN {printf "%.3f", a + b}')" "$target" "$met"
}
{
    echo "| Program (unit-sim --seed 7, the same stream to each) | Program: CPU, % of one core (rounds: lowest–highest) | Its X server (Xvfb) | Together | Target | Met |"
    echo "|---|---|---|---|---|---|"
    side_row rate10 "Viewer, 10 packets/s, window as it starts (compact)" "< 1.0 %" 1.0
    side_row rate10full "Viewer, 10 packets/s, full window (More Data)" "< 1.3 %" 1.3
    side_row idle "Viewer, idle (disconnected)" "< 0.2 %" 0.2
    side_row rate1 "Viewer, 1 packet/s, compact"
    if [ -n "$before" ]; then
        side_row before-rate10 "Earlier viewer, 10 packets/s, compact"
        side_row before-rate10full "Earlier viewer, 10 packets/s, full window"
        side_row before-idle "Earlier viewer, idle (disconnected)"
    fi
    side_row xterm "xterm running nc, 10 packets/s (80×24)"
} >"$results/side.md"

# The sweep: one table per build.
sweep_table() {  # build
    local b=$1 r
    echo "| Packets/s asked | Arrived (a second) | Taken by the panel | Screen behind the newest packet: median / 95 % / worst | Status line said (most) | True age of the panel's data: median / worst | Status line off by (worst) | Viewer's CPU | Met |"
    echo "|---|---|---|---|---|---|---|---|---|"
    for r in $rates; do
        if [ "$(sv "$b" "$r" failed)" = 1 ] || [ "$(sv "$b" "$r" sent)" = nan ]; then
            echo "| $r | failed (see sweep.$b.$r.log) | | | | | | | |"
            continue
        fi
        local sent shown age said truth off met
        sent="$(sv "$b" "$r" sent) ($(fmt "$(sv "$b" "$r" sent_per_second)" '%.1f'))"
        shown="$(sv "$b" "$r" shown) ($(fmt "$(sv "$b" "$r" shown_percent)" '%.1f') %)"
        if [ "$(sv "$b" "$r" shown)" = 0 ]; then
            age="none shown"; said="—"; truth="—"; off="—"
        else
            age="$(fmt "$(sv "$b" "$r" screen_age_median_ms)" '%.0f') / $(fmt "$(sv "$b" "$r" screen_age_p95_ms)" '%.0f') / $(fmt "$(sv "$b" "$r" screen_age_max_ms)" '%.0f') ms"
            [ "$(sv "$b" "$r" never_painted)" != 0 ] && age="$age; $(sv "$b" "$r" never_painted) never painted"
            said="$(fmt "$(sv "$b" "$r" status_said_max_s)" '%.0f') s"
            truth="$(fmt "$(sv "$b" "$r" true_age_median_s)" '%.2f') / $(fmt "$(sv "$b" "$r" true_age_max_s)" '%.2f') s"
            off="$(fmt "$(sv "$b" "$r" status_error_worst_s)" '%+.2f') s"
        fi
        met=$(yesno "$(awk -v s="$(sv "$b" "$r" sent)" -v t="$(sv "$b" "$r" shown)" -v a="$(sv "$b" "$r" screen_age_max_ms)" \
            -v n="$(sv "$b" "$r" never_painted)" -v e="$(sv "$b" "$r" status_error_worst_s)" \
            'BEGIN {e = e < 0 ? -e : e; print (s == t && n == 0 && a != "nan" && a <= 150 && e != "nan" && e < 1)}')")
        echo "| $r | $sent | $shown | $age | $said | $truth | $off | $(fmt "$(sv "$b" "$r" cpu_percent)" '%.2f') % | $met |"
    done
}
if [ "$sweep" = 1 ]; then
    {
        echo "This build:"
        echo
        sweep_table after
        if [ -n "$before" ]; then
            echo
            echo "Earlier build:"
            echo
            sweep_table before
        fi
    } >"$results/sweep.md"
fi

# Instructions per packet of the replayed stream, by part (callgrind,
# inclusive). The traffic window's text update is TrafficWindow::flush in
# this build and disply_text, called from the poll, in the earlier one.
breakdown_column() {  # run: prints one value per line, in the rows' order
    local run=$1 total text traffic labels paint poll parser fill rest
    total=${ir_replay[$run]}
    traffic=$(part "$run" "QPlainTextEdit::paintEvent(")
    labels=$(part "$run" "QLabel::paintEvent(")
    paint=$(part "$run" "QWidgetRepaintManager::paintAndFlush()")
    poll=$(part "$run" "fm_more_data::tmrDataArrival_Timer()")
    if [ "${run%%-*}" = before ]; then
        text=$(part "$run" "fm_more_data::disply_text(")
        poll=$(( poll - text ))
    else
        text=$(part "$run" "TrafficWindow::flush()")
    fi
    parser=$(part "$run" "parse_ulmex_string(")
    fill=$(part "$run" "fm_more_data::populate_moredata(")
    rest=$(( total - paint - text - poll ))
    printf '%s\n' "$total" "$traffic" "$text" "$labels" "$(( paint - traffic - labels ))" "$poll" "$parser" "$fill" "$rest"
}
{
    labels_rows=("**Whole tick, per packet**" "Traffic window: repaint (QPlainTextEdit::paintEvent)"
        "Traffic window: text update and layout" "Boxes: repaint (QLabel::paintEvent)"
        "The rest of the repaint (frames, buttons, scroll bars, status line, handing the image over)"
        "Receive poll: parser, boxes filled, traffic text kept" "— of which the parser" "— of which populate_moredata"
        "Everything else (tick, WITS second, status line, event loop)")
    header="| Part (instructions per packet) | This build, full window | This build, compact"
    sep="|---|---|---"
    cols=(after-full after-compact)
    if [ -n "$before" ]; then
        header="$header | Earlier build, full window | Earlier build, compact"
        sep="$sep|---|---"
        cols+=(before-full before-compact)
    fi
    echo "$header |"
    echo "$sep|"
    declare -A values
    for c in "${cols[@]}"; do
        i=0
        while read -r v; do values[$c,$i]=$v; i=$(( i + 1 )); done < <(breakdown_column "$c")
    done
    for i in "${!labels_rows[@]}"; do
        line="| ${labels_rows[$i]}"
        for c in "${cols[@]}"; do line="$line | $(mega "${values[$c,$i]}")"; done
        echo "$line |"
    done
    if [ -n "$before" ]; then
        echo "| Whole tick, every reading changed each packet (samplestream), full window | $(mega "$ir_tick_packet") | | $(mega "$ir_before_synthetic") | |"
    fi
} >"$results/breakdown.md"

{
    echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) CPUs, $(free -m | awk '/^Mem:/ {printf "%.1f GB", $2 / 1024}') memory"
    echo "OS: $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
    if git -C "$root" rev-parse --short HEAD >/dev/null 2>&1; then
        echo "Source: commit $(git -C "$root" rev-parse --short HEAD), $(git -C "$root" status --porcelain -- src | wc -l) files under src/ changed since"
    else
        echo "Source: not a git checkout"
    fi
    if [ -n "$before" ]; then
        echo "Earlier build: $before, commit $(git -C "$before" rev-parse --short HEAD 2>/dev/null || echo unknown)"
    fi
    echo "Qt: $(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo unknown); compiler: $(c++ --version | head -1); Google Benchmark: $(dpkg-query -W -f='${Version}' libbenchmark-dev 2>/dev/null || echo unknown)"
    echo "Load average (1, 5, 15 min) at the start: $load_at_start; at the end: $(cut -d' ' -f1-3 /proc/loadavg); timed runs at ${prio[*]:-normal priority}; run took $(( SECONDS / 60 )) min $(( SECONDS % 60 )) s"
} >"$results/machine.txt"

echo
cat "$results/machine.txt"
echo
cat "$results/table.md"
echo
echo "Side by side at 10 packets a second ($seconds s, $rounds rounds):"
echo
cat "$results/side.md"
if [ "$sweep" = 1 ]; then
    echo
    echo "Rate sweep (full window, $sweep_seconds s a rate):"
    echo
    cat "$results/sweep.md"
fi
echo
echo "Instructions per packet of unit-sim's stream replayed at one packet a tick ($replay_ticks packets):"
echo
cat "$results/breakdown.md"
echo
echo "Raw output: $results"
