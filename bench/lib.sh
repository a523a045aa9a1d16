# shellcheck shell=bash
# Sourced by the measuring scripts of bench/ (hotpaths.sh, lifecycle.sh,
# side.sh, sweep.sh, history.sh, trends.sh, soak.sh, run.sh) and by
# tables.sh: the options they share, the packages, the Release build with
# the benchmarks, the folder each keeps its raw results in, the processes
# they start (unit-sim, Xvfb) and their clean-up, and the small figures
# helpers the tables use.
#
# Options every measuring script takes:
#   --build DIR    the Release build with the benchmarks (default build-bench/)
#   --out DIR      the results folder (default DIR-of-the-build/bench-results);
#                  each script keeps its raw results in a folder of its own
#                  under it (hotpaths/, lifecycle/, side/, sweep/, history/,
#                  trends/, soak/), replaced at each run
#   --jobs N       build jobs (default 2)
#   --redraw DIR   runs nothing: prints the tables again from the results in
#                  DIR (a results folder or one script's folder in it)

# Paths given on the command line are taken from the folder it was given in;
# the scripts name every path of the tree from $bench_root.
bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=../scripts/deps.sh
source "$bench_root/scripts/deps.sh"

bench_build=$bench_root/build-bench
bench_out=""
bench_jobs=2
bench_redraw=""

# Every script's option loop takes its own options and hands the rest here:
#   *) bench_option "$@"; shift "$bench_took" ;;
# A script that compares with an earlier tree sets bench_takes_before=1
# before its loop and reads the folder from bench_before after it.
bench_before=""
bench_took=2
bench_option() {
    case "$1" in
        -h|--help) bench_usage "$0"; exit 0 ;;
        --build|--out|--jobs|--redraw|--before) [ -n "${2:-}" ] || { echo "$1 needs a value" >&2; exit 2; } ;;
        *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
    esac
    case "$1" in
        --build) bench_build=$(realpath -m "$2") ;;
        --out) bench_out=$(realpath -m "$2") ;;
        --jobs) bench_whole "$2" && [ "$2" -ge 1 ] || { echo "--jobs needs a whole number of 1 or more" >&2; exit 2; }
                bench_jobs=$2 ;;
        --redraw) [ -d "$2" ] || { echo "--redraw: $2 is not a folder" >&2; exit 2; }
                  bench_redraw=$(realpath "$2") ;;
        --before) [ -n "${bench_takes_before:-}" ] || { echo "unknown option: $1 (see --help)" >&2; exit 2; }
                  [ -d "$2" ] || { echo "--before needs a folder" >&2; exit 2; }
                  bench_before=$(cd "$2" && pwd); bench_check_before "$bench_before" ;;
    esac
    bench_took=2
}
bench_whole() { case "$1" in ''|*[!0-9]*) return 1 ;; esac; }
# Prints the comment block after the first line of a script as its help.
bench_usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$1"; }
# With --redraw, prints the tables from the saved results and ends the script.
bench_redraw_if_asked() {
    [ -n "$bench_redraw" ] || return 0
    exec "$bench_root/bench/tables.sh" "$bench_redraw"
}

log() { printf '== %s\n' "$*" >&2; }

# ---------------------------------------------------------------- results
# bench_results PART: the folder this script keeps its raw results in,
# emptied, as $results; the top results folder is $bench_out. Notes when and
# under what load the run started, for machine.txt.
results=""
bench_results() {
    bench_out=${bench_out:-$bench_build/bench-results}
    results=$bench_out/$1
    rm -rf "$results"
    mkdir -p "$results"
    # A script run on its own leaves the other folders of an earlier run
    # beside its own; the whole run's machine.txt no longer describes them.
    [ -n "${BENCH_RUN:-}" ] || rm -f "$bench_out/machine.txt"
    echo "$1" >"$results/part"
    bench_load_at_start=${BENCH_LOAD_AT_START:-$(cut -d' ' -f1-3 /proc/loadavg)}
    bench_started=${BENCH_STARTED:-$(date +%s)}
}
# bench_set KEY VALUE: one figure or setting of the run, in $results/run.env,
# read back by tables.sh.
bench_set() { printf '%s=%s\n' "$1" "$2" >>"$results/run.env"; }

# The machine, the source and the load, written to FILE (default
# $results/machine.txt) at the end of a run.
bench_save_machine() {
    local file=${1:-$results/machine.txt} before=${2:-}
    local took=$(( $(date +%s) - bench_started ))
    {
        echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) CPUs, $(free -m | awk '/^Mem:/ {printf "%.1f GB", $2 / 1024}') memory"
        echo "OS: $(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
        if git -C "$bench_root" rev-parse --short HEAD >/dev/null 2>&1; then
            echo "Source: commit $(git -C "$bench_root" rev-parse --short HEAD), $(git -C "$bench_root" status --porcelain -- src | wc -l) files under src/ changed since"
        else
            echo "Source: not a git checkout"
        fi
        if [ -n "$before" ]; then
            echo "Earlier build: $before, commit $(git -C "$before" rev-parse --short HEAD 2>/dev/null || echo unknown)"
        fi
        echo "Qt: $(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo unknown); compiler: $(c++ --version | head -1); Google Benchmark: $(dpkg-query -W -f='${Version}' libbenchmark-dev 2>/dev/null || echo unknown)"
        echo "Load average (1, 5, 15 min) at the start: $bench_load_at_start; at the end: $(cut -d' ' -f1-3 /proc/loadavg); timed runs at ${prio[*]:-normal priority}; run took $(( took / 60 )) min $(( took % 60 )) s"
    } >"$file"
}

# ---------------------------------------------------------------- build
# bench_build_targets TARGET...: configures the Release build with the
# benchmarks and builds the targets; the logs stay in the results.
bench_build_targets() {
    log "building (Release) into $bench_build: $*"
    cmake -S "$bench_root" -B "$bench_build" -DCMAKE_BUILD_TYPE=Release -DRTVIEWER_BENCH=ON >"$results/cmake.log" 2>&1 \
        || { tail -30 "$results/cmake.log" >&2; exit 1; }
    cmake --build "$bench_build" -j"$bench_jobs" --target "$@" >"$results/build.log" 2>&1 \
        || { tail -30 "$results/build.log" >&2; exit 1; }
    bin=$bench_build/bin
}
bin=$bench_build/bin

# bench_build_before DIR TARGET...: an earlier checkout in DIR with this
# tree's whole-window drivers built against it (bench/before/addsweep.cmake),
# its own benchmarks left out, into DIR/build-bench; sets bbin.
bbin=""
bench_check_before() {
    [ -f "$1/src/app/fm_more_data.h" ] || { echo "--before: $1 is not a checkout of the viewer" >&2; exit 2; }
}
bench_build_before() {
    local before=$1
    shift
    log "building the earlier tree (Release) into $before/build-bench"
    cmake -S "$before" -B "$before/build-bench" -DCMAKE_BUILD_TYPE=Release -DRTVIEWER_BENCH=OFF \
        -DCMAKE_PROJECT_INCLUDE="$bench_root/bench/before/addsweep.cmake" >"$results/cmake-before.log" 2>&1 \
        || { tail -30 "$results/cmake-before.log" >&2; exit 1; }
    cmake --build "$before/build-bench" -j"$bench_jobs" --target "$@" >"$results/build-before.log" 2>&1 \
        || { tail -30 "$results/build-before.log" >&2; exit 1; }
    bbin=$before/build-bench/bin
}

# ---------------------------------------------------------------- processes
# Every process started here is ended when the script ends, however it ends.
started=()
bench_cleanup() {
    local pid
    for pid in "${started[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${started[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
}
trap bench_cleanup EXIT

# The viewer and the drivers find their own platform (xcb on our X servers)
# unless a script sends them offscreen; whatever they keep (settings, the
# history) stays in the results.
bench_private_home() {
    unset QT_QPA_PLATFORM
    export XDG_RUNTIME_DIR=$results/runtime XDG_CONFIG_HOME=$results/home/config \
        XDG_DATA_HOME=$results/home/data XDG_CACHE_HOME=$results/home/cache
    mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
    chmod 700 "$XDG_RUNTIME_DIR"
}

# Where allowed, the timed processes (and their X servers) run ahead of other
# work (nice -10); their CPU time and instruction counts do not depend on it.
prio=()
if nice -n -10 true 2>/dev/null; then
    prio=(nice -n -10)
fi

# Waits for a line matching the pattern in a file; fails after the timeout
# (in tenths of a second).
wait_line() {
    local file=$1 pattern=$2 tenths=$3 i
    for i in $(seq "$tenths"); do
        grep -q -- "$pattern" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# Starts an X server on a free display and sets xvfb_display to ":N" and
# xvfb_pid. Not to be called in a subshell: the server must be known to the
# clean-up.
xvfb_display=""
xvfb_pid=""
start_xvfb() {
    local name=$1 fdfile=$results/xvfb-$1.display
    : >"$fdfile"
    "${prio[@]}" Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp 3>"$fdfile" >"$results/xvfb-$name.log" 2>&1 &
    xvfb_pid=$!
    started+=("$xvfb_pid")
    local i
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

# start_sim NAME OPTION...: a unit-sim (of $sim, default the bench build's)
# with the given options on a free port, logging to $results/unit-sim.NAME.log
# (or to $sim_log when set); sets sim_port and sim_pid. Not in a subshell.
sim_port=""
sim_pid=""
sim=""
sim_log=""
start_sim() {
    local name=$1 logfile=${sim_log:-$results/unit-sim.$1.log}
    shift
    "${sim:-$bin/unit-sim}" --port 0 "$@" >"$logfile" 2>&1 &
    sim_pid=$!
    started+=("$sim_pid")
    wait_line "$logfile" "listening on" 50 || { echo "unit-sim $name did not start (see $logfile)" >&2; exit 1; }
    sim_port=$(sed -n '1s/.*://p' "$logfile")
}

# bench_start_fleet DIR UNITS RATE RECORDER-OPTION...: a unit-sim of UNITS
# units, RATE packets a second each, on free ports, writing its lookup table
# to DIR/lookup.txt and each packet it sends to DIR/sent.log; once it
# listens, one rtrecorder of that table with the options given (where it
# records). Logs in DIR/unit-sim.log and DIR/rtrecorder.log; sets
# fleet_sim_pid and fleet_rec_pid. Not in a subshell.
fleet_sim_pid=""
fleet_rec_pid=""
bench_start_fleet() {
    local dir=$1 units=$2 rate=$3
    shift 3
    "${prio[@]}" "$bin/unit-sim" --units "$units" --port 0 --rate "$rate" --write-lookup "$dir/lookup.txt" \
        --sent-log "$dir/sent.log" 2>"$dir/unit-sim.log" &
    fleet_sim_pid=$!
    started+=("$fleet_sim_pid")
    wait_line "$dir/unit-sim.log" "units listening" 300 \
        || { echo "unit-sim did not start (see $dir/unit-sim.log)" >&2; exit 1; }
    "${prio[@]}" "$bin/rtrecorder" --lookup "$dir/lookup.txt" "$@" 2>"$dir/rtrecorder.log" &
    fleet_rec_pid=$!
    started+=("$fleet_rec_pid")
}

# bench_stop_fleet: SIGTERM to the recorder, then to the simulator, each
# waited for; sets fleet_stop_ms, the recorder's time from the signal to
# its exit.
fleet_stop_ms=""
bench_stop_fleet() {
    local stop_start
    stop_start=$(now_ns)
    kill -TERM "$fleet_rec_pid"
    wait "$fleet_rec_pid" || echo "rtrecorder ended with $?" >&2
    fleet_stop_ms=$(( ($(now_ns) - stop_start) / 1000000 ))
    kill -TERM "$fleet_sim_pid"
    wait "$fleet_sim_pid" || true
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
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
now_ns() { local t=$EPOCHREALTIME; echo "${t/./}000"; }

# ---------------------------------------------------------------- figures
median() { sort -g | awk '{v[NR]=$1} END {if (NR==0) print "nan"; else if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }
maximum() { sort -g | awk 'END {print (NR ? $1 : "nan")}'; }
minimum() { sort -g | awk 'NR == 1 {print $1; found=1} END {if (!found) print "nan"}'; }
fmt() { awk -v v="$1" -v f="$2" 'BEGIN {if (v == "nan" || v == "") print "n/a"; else printf f, v}'; }
# Thousands separators for a whole number.
group() { awk -v v="$1" 'BEGIN {if (v == "" || v == "nan") {print "n/a"; exit} s=sprintf("%.0f", v); o=""; while (length(s) > 3) {o="," substr(s, length(s)-2) o; s=substr(s, 1, length(s)-3)} print s o}'; }
yesno() { awk -v c="$1" 'BEGIN {print (c ? "yes" : "**no**")}'; }
# Millions, two decimals.
mega() { awk -v v="$1" 'BEGIN {if (v == "" || v == "nan") print "n/a"; else printf "%.2f M", v / 1e6}'; }
