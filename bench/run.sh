#!/usr/bin/env bash
# Builds the viewer and the benchmarks in Release into build-bench/, runs the
# hot-path benchmarks and the whole-program measurements, and prints one
# table. Everything is measured here, with public tools: Google Benchmark,
# /usr/bin/time, valgrind's callgrind, the kernel's per-process CPU and
# memory counters (/proc/PID/schedstat and /proc/PID/status), and an X server
# of its own (Xvfb) with xdotool and xev to find, click and watch the windows.
#
#   bench/run.sh                 the full run (about 4 to 10 minutes)
#   bench/run.sh --seconds 20    shorter idle and fed windows (default 60)
#   bench/run.sh --jobs N        build jobs (default 2)
#
# The table goes to stdout and to build-bench/bench-results/table.md; the raw
# output of every step stays beside it. The viewer itself gets no option and
# no variable of its own: it runs from a folder of its own holding the two
# configuration files, its lookup table pointing at a unit-sim on a free port,
# and is connected by clicking its Connect button.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=60
jobs=2
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
    esac
done
case "$seconds" in ''|*[!0-9]*) echo "--seconds needs a whole number" >&2; exit 2 ;; esac
[ "$seconds" -ge 5 ] || { echo "--seconds must be 5 or more" >&2; exit 2; }

source scripts/deps.sh
ensure_deps libbenchmark-dev xvfb xdotool x11-utils time valgrind procps

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
cmake --build "$build" -j"$jobs" --target rtviewer unit-sim bench_window bench_parser bench_display \
    >"$results/build.log" 2>&1 || { tail -30 "$results/build.log" >&2; exit 1; }

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

# The viewer and the driver find their own platform (xcb on our X server);
# nothing inherited may send them offscreen.
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR=$results/runtime
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Starts an X server on a free display and sets xvfb_display to ":N". Not to
# be called in a subshell: the server must be known to the clean-up.
xvfb_display=""
start_xvfb() {
    local name=$1 fdfile=$results/xvfb-$1.display i
    : >"$fdfile"
    "${prio[@]}" Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp 3>"$fdfile" >"$results/xvfb-$name.log" 2>&1 &
    started+=($!)
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

# A folder with the viewer and its two files, the lookup table pointing unit
# 0001 at the given port.
viewer_dir() {
    local dir=$results/$1 port=$2
    mkdir -p "$dir"
    cp "$bin/rtviewer" "$bin/RDconfig.ini" "$dir/"
    printf '0001 127.0.0.1 %s\r\n' "$port" >"$dir/RDVlookup.TXT"
    echo "$dir"
}

# CPU time of a process in nanoseconds (scheduler's count, or ticks).
cpu_ns() {
    if [ -r "/proc/$1/schedstat" ]; then
        awk '{print $1}' "/proc/$1/schedstat"
    else
        awk -v hz="$(getconf CLK_TCK)" '{printf "%.0f\n", ($14 + $15) * 1e9 / hz}' "/proc/$1/stat"
    fi
}
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
now_ns() { local t=$EPOCHREALTIME; echo "${t/./}000"; }
median() { sort -g | awk '{v[NR]=$1} END {if (NR==0) print "nan"; else if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }
maximum() { sort -g | tail -1; }
fmt() { awk -v v="$1" -v f="$2" 'BEGIN {printf f, v}'; }
# Thousands separators for a whole number.
group() { awk -v v="$1" 'BEGIN {s=sprintf("%.0f", v); o=""; while (length(s) > 3) {o="," substr(s, length(s)-2) o; s=substr(s, 1, length(s)-3)} print s o}'; }
yesno() { awk -v c="$1" 'BEGIN {print (c ? "yes" : "**no**")}'; }

# Waits for a line matching the pattern in a file; fails after the timeout.
wait_line() {
    local file=$1 pattern=$2 tenths=$3 i
    for i in $(seq "$tenths"); do
        grep -q -- "$pattern" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

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

# ---------------------------------------------------------------- start-up and shut-down
# Wall-clock times on a shared machine mostly measure the queue for a CPU.
# Where allowed, the timed processes (and their X server) run ahead of other
# work (nice -10); their CPU time and instruction counts do not depend on it.
prio=()
if nice -n -10 true 2>/dev/null; then
    prio=(nice -n -10)
fi
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

# ---------------------------------------------------------------- idle and fed
# Four viewers at once, each on an X server of its own so that each click
# lands on its own window: idle, fed at 1 and at 10 packets a second, and fed
# at 10 with the full window (More Data) showing the traffic window.
log "idle and fed viewers, $seconds s each (run side by side)"
runs=(idle rate1 rate10 rate10full)
declare -A rate=([idle]=0 [rate1]=1 [rate10]=10 [rate10full]=10)
declare -A vpid tpid wid port dispof
connect_x=150; connect_y=15      # centre of Connect To Server at 96 dpi
moredata_x=336; moredata_y=15    # centre of More Data at 96 dpi
start_caption="Real Time Data Viewer"
window_width() { DISPLAY=${dispof[$1]} xdotool getwindowgeometry "${wid[$1]}" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p'; }
for r in "${runs[@]}"; do
    start_xvfb "$r"
    dispof[$r]=$xvfb_display
    port[$r]=9
    if [ "${rate[$r]}" != 0 ]; then
        "$bin/unit-sim" --port 0 --seed 7 --rate "${rate[$r]}" >"$results/unit-sim.$r.log" 2>&1 &
        started+=($!)
        wait_line "$results/unit-sim.$r.log" "listening on" 50 || { echo "unit-sim did not start" >&2; exit 1; }
        port[$r]=$(sed -n '1s/.*://p' "$results/unit-sim.$r.log")
    fi
    dir=$(viewer_dir "viewer-$r" "${port[$r]}")
    DISPLAY=${dispof[$r]} /usr/bin/time -v -o "$results/time.$r.txt" "$dir/rtviewer" >"$results/rtviewer.$r.log" 2>&1 &
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
    wid[$r]=$(DISPLAY=${dispof[$r]} timeout 20 xdotool search --sync --onlyvisible --pid "${vpid[$r]}" | head -1)
    [ -n "${wid[$r]}" ] || { echo "viewer $r showed no window" >&2; exit 1; }
    if [ "${rate[$r]}" != 0 ]; then
        for attempt in 1 2 3; do
            DISPLAY=${dispof[$r]} xdotool mousemove --window "${wid[$r]}" $connect_x $connect_y click 1
            wait_line "$results/unit-sim.$r.log" "client 1 connected" 50 && break
        done
        grep -q "client 1 connected" "$results/unit-sim.$r.log" || { echo "viewer $r did not connect" >&2; exit 1; }
    fi
    if [ "$r" = rate10full ]; then
        compact=$(window_width "$r")
        sleep 1.5   # the connect waits one second before it reports
        for attempt in 1 2 3; do
            DISPLAY=${dispof[$r]} xdotool mousemove --window "${wid[$r]}" $moredata_x $moredata_y click 1
            sleep 0.5
            [ "$(window_width "$r")" -gt "$compact" ] && break
        done
        [ "$(window_width "$r")" -gt "$compact" ] || { echo "viewer $r did not open the full window" >&2; exit 1; }
    fi
done
sleep 5   # let the connections settle and the first packets arrive
declare -A cpu0
t_start=$(now_ns)
for r in "${runs[@]}"; do
    cpu0[$r]=$(cpu_ns "${vpid[$r]}")
    : >"$results/rss.$r.kb"
done
deadline=$(( t_start + seconds * 1000000000 ))
while :; do
    for r in "${runs[@]}"; do rss_kb "${vpid[$r]}" >>"$results/rss.$r.kb"; done
    now=$(now_ns)
    [ "$now" -ge "$deadline" ] && break
    left=$(( (deadline - now) / 1000000 ))
    [ "$left" -gt 5000 ] && left=5000
    sleep "$(awk -v l="$left" 'BEGIN {printf "%.3f", l / 1000}')"
done
t_end=$(now_ns)
declare -A cpu_pct rss_start rss_end rss_max rss_time caption_ok
for r in "${runs[@]}"; do
    cpu1=$(cpu_ns "${vpid[$r]}")
    cpu_pct[$r]=$(awk -v c=$(( cpu1 - cpu0[$r] )) -v t=$(( t_end - t_start )) 'BEGIN {printf "%.3f", 100 * c / t}')
    rss_start[$r]=$(head -1 "$results/rss.$r.kb")
    rss_end[$r]=$(tail -1 "$results/rss.$r.kb")
    rss_max[$r]=$(maximum <"$results/rss.$r.kb")
    name=$(DISPLAY=${dispof[$r]} xdotool getwindowname "${wid[$r]}" 2>/dev/null || true)
    echo "$name" >"$results/caption.$r.txt"
    # A fed viewer has shown packets once its caption is the unit's (or the
    # alarm's) instead of the start-up caption; it must still be connected.
    caption_ok[$r]=1
    if [ "${rate[$r]}" != 0 ]; then
        case "$name" in *"$start_caption"*) caption_ok[$r]=0 ;; esac
        grep -q "client 1 gone" "$results/unit-sim.$r.log" && caption_ok[$r]=0
    fi
    kill "${vpid[$r]}" 2>/dev/null || true
done
for r in "${runs[@]}"; do
    wait "${tpid[$r]}" 2>/dev/null || true
    rss_time[$r]=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$results/time.$r.txt")
done

# ---------------------------------------------------------------- table
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
    echo "| disply_text at the trim boundary (1001 characters, every call trims), the call alone | $(us_row bench_display 'BM_disply_text_trim/paint:0' calls) | | |"
    echo "| disply_text at the trim boundary, with the repaint | $(us_row bench_display 'BM_disply_text_trim/paint:1' calls) | | |"
    echo "| disply_text, one packet of about 250 characters (trims as they fall), with the repaint | $(us_row bench_display 'BM_disply_text_packet/paint:1' packets) | | |"
    echo "| Window tick with one packet: poll, parser, populate_moredata, traffic window, status line, repaint (full window, offscreen, callgrind) | $(group "$ir_tick_packet") instructions | | |"
    echo "| Window tick with nothing received, disconnected (offscreen, callgrind) | $(group "$ir_tick_idle") instructions | | |"
    echo "| Start-up: rtviewer exec to its window mapped (Xvfb), median of 5 | $(fmt "$startup_map" '%.0f') ms (max $(fmt "$startup_map_max" '%.0f') ms) | ≤ 500 ms | $(yesno "$(awk -v v="$startup_map_max" 'BEGIN {print (v != "nan" && v <= 500)}')") |"
    echo "| Start-up: exec to the first paint of the window (bench_window, Xvfb), median of 5 | $(fmt "$startup_paint" '%.0f') ms (max $(fmt "$startup_paint_max" '%.0f') ms); whole process $(fmt "$startup_elapsed" '%.0f') ms wall, $(fmt "$startup_cpu" '%.0f') ms CPU, max RSS $(fmt "$startup_rss" '%.1f') MB (/usr/bin/time) | ≤ 500 ms | $(yesno "$(awk -v v="$startup_paint_max" 'BEGIN {print (v != "nan" && v <= 500)}')") |"
    echo "| Start-up: instructions from exec to the first paint and exit (offscreen, callgrind) | $(group "$ir_startup") | | |"
    echo "| Idle, disconnected, $seconds s: CPU of one core \\| resident memory | $(fed_row idle) | < 0.5 % \\| < 60 MB, flat | $(met_fed idle 0.5) |"
    echo "| Fed by unit-sim at 1 packet/s, $seconds s: CPU \\| resident memory | $(fed_row rate1) | < 2 % \\| < 60 MB, flat | $(met_fed rate1 2) |"
    echo "| Fed by unit-sim at 10 packets/s, $seconds s: CPU \\| resident memory | $(fed_row rate10) | < 2 % \\| < 60 MB, flat | $(met_fed rate10 2) |"
    echo "| Fed at 10 packets/s with the full window (More Data), $seconds s: CPU \\| resident memory | $(fed_row rate10full) | < 2 % \\| < 60 MB, flat | $(met_fed rate10full 2) |"
    echo "| Shut-down, disconnected: close to process gone (bench_window, Xvfb), median of 5 | $(fmt "$shutdown" '%.1f') ms (max $(fmt "$shutdown_max" '%.1f') ms; close to the end of the event loop $(fmt "$shutdown_loop" '%.2f') ms) | ≤ 200 ms | $(yesno "$(awk -v v="$shutdown_max" 'BEGIN {print (v != "nan" && v <= 200)}')") |"
} >"$results/table.md"

{
    echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) CPUs, $(free -m | awk '/^Mem:/ {printf "%.1f GB", $2 / 1024}') memory"
    echo "OS: $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
    if git -C "$root" rev-parse --short HEAD >/dev/null 2>&1; then
        echo "Source: commit $(git -C "$root" rev-parse --short HEAD), $(git -C "$root" status --porcelain -- src | wc -l) files under src/ changed since"
    else
        echo "Source: not a git checkout"
    fi
    echo "Qt: $(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo unknown); compiler: $(c++ --version | head -1); Google Benchmark: $(dpkg-query -W -f='${Version}' libbenchmark-dev 2>/dev/null || echo unknown)"
    echo "Load average (1, 5, 15 min) at the start: $load_at_start; at the end: $(cut -d' ' -f1-3 /proc/loadavg); timed start-up and shut-down runs at ${prio[*]:-normal priority}; run took $(( SECONDS / 60 )) min $(( SECONDS % 60 )) s"
} >"$results/machine.txt"

echo
cat "$results/machine.txt"
echo
cat "$results/table.md"
echo
echo "Raw output: $results"
