#!/usr/bin/env bash
# The hot paths: the parser and the display through Google Benchmark, and
# instructions counted by valgrind's callgrind for a parser call, a window
# tick, the start-up, and a recorded unit-sim stream replayed one packet a
# tick through the full and the compact window, broken down by part.
#
#   bench/hotpaths.sh                 five repetitions of each benchmark,
#                                     25 s of unit-sim's stream recorded
#   bench/hotpaths.sh --quick         one short repetition, 10 s recorded
#   bench/hotpaths.sh --before DIR    also the replay and the synthetic tick
#                                     through a checkout of an earlier commit
#   bench/hotpaths.sh --redraw DIR    the tables again from saved results
#   (and --build DIR, --out DIR, --jobs N: see bench/lib.sh)
#
# Raw results in RESULTS/hotpaths/: the benchmarks' CSV files, callgrind's
# reports (callgrind.NAME.txt with the instructions collected, .out with the
# profile, the replays' annotated profiles), the recorded stream, run.env.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

quick=0
before=""
bench_takes_before=1
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) quick=1; shift ;;
        *) bench_option "$@"; shift "$bench_took" ;;
    esac
done
before=$bench_before
bench_redraw_if_asked

ensure_deps libbenchmark-dev valgrind
bench_results hotpaths
bench_build_targets rtviewer unit-sim bench_window bench_parser bench_display
[ -n "$before" ] && bench_build_before "$before" bench_window
bench_private_home

capture_seconds=25
repetitions=(--benchmark_repetitions=5)
parser_calls=10000
wits_calls=2000
window_ticks=200
if [ "$quick" = 1 ]; then
    capture_seconds=10
    repetitions=(--benchmark_repetitions=2 --benchmark_min_time=0.05)
    parser_calls=1000
    wits_calls=200
    window_ticks=30
fi
bench_set parser_calls "$parser_calls"
bench_set wits_calls "$wits_calls"
bench_set window_ticks "$window_ticks"
bench_set before "$before"

# ---------------------------------------------------------------- recording
# A unit-sim stream of 10 packets a second, recorded while the benchmarks
# run, is replayed packet by packet under callgrind later. A fixed start time
# makes the packets the same byte for byte on every run.
log "recording $capture_seconds s of unit-sim's stream for the replay"
start_sim capture --seed 7 --rate 10 --start-time 2024-05-14T06:00:00
capture_sim=$sim_pid
timeout "$capture_seconds" bash -c "cat </dev/tcp/127.0.0.1/$sim_port" >"$results/stream-10.bin" 2>/dev/null &
capture_pid=$!
started+=("$capture_pid")

# ---------------------------------------------------------------- benchmarks
log "Google Benchmark: parser"
"$bin/bench_parser" "${repetitions[@]}" --benchmark_report_aggregates_only=true \
    --benchmark_out="$results/bench_parser.csv" --benchmark_out_format=csv \
    >"$results/bench_parser.txt" 2>&1
log "Google Benchmark: display (offscreen)"
QT_QPA_PLATFORM=offscreen "$bin/bench_display" "${repetitions[@]}" --benchmark_report_aggregates_only=true \
    --benchmark_out="$results/bench_display.csv" --benchmark_out_format=csv \
    >"$results/bench_display.txt" 2>&1

# ---------------------------------------------------------------- callgrind
# Each count stays in callgrind.NAME.txt ("Collected : N"); tables.sh
# divides it by the calls made, kept in run.env.
log "callgrind: instructions per parser call and per window tick"
callgrind_run() {  # output-name collect-pattern command...
    local name=$1 pattern=$2
    shift 2
    valgrind --tool=callgrind --callgrind-out-file="$results/callgrind.$name.out" --collect-atstart=no \
        --toggle-collect="$pattern" "$@" >"$results/callgrind.$name.txt" 2>&1
}
callgrind_run parser-packet '*runParserCalls*' "$bin/bench_parser" count packet "$parser_calls"
callgrind_run parser-wits '*runParserCalls*' "$bin/bench_parser" count wits "$wits_calls"
callgrind_run parser-status '*runParserCalls*' "$bin/bench_parser" count status "$parser_calls"
QT_QPA_PLATFORM=offscreen callgrind_run ticks-idle '*runTicks*' "$bin/bench_window" ticks "$window_ticks"
QT_QPA_PLATFORM=offscreen callgrind_run ticks-packet '*runTicks*' "$bin/bench_window" packets "$window_ticks"
QT_QPA_PLATFORM=offscreen valgrind --tool=callgrind --callgrind-out-file="$results/callgrind.startup.out" \
    "$bin/bench_window" startup >"$results/callgrind.startup.txt" 2>&1

wait "$capture_pid" 2>/dev/null || true
kill "$capture_sim" 2>/dev/null || true
replay_packets=$(tr -cd '*' <"$results/stream-10.bin" | wc -c)
[ "$replay_packets" -gt 20 ] || { echo "the recording of unit-sim's stream holds only $replay_packets packets" >&2; exit 1; }
replay_ticks=$(( replay_packets - 1 < window_ticks ? replay_packets - 1 : window_ticks ))
bench_set replay_ticks "$replay_ticks"

# The same replay, one packet a tick, through each build and window size;
# tables.sh reads the parts it names from each profile, inclusive.
log "callgrind: the recorded stream replayed, $replay_ticks packets"
replay_runs=(after-full after-compact)
[ -n "$before" ] && replay_runs+=(before-full before-compact)
for run in "${replay_runs[@]}"; do
    driver=$bin/bench_window
    [ "${run%%-*}" = before ] && driver=$bbin/bench_window
    size=()
    [ "${run#*-}" = compact ] && size=(compact)
    QT_QPA_PLATFORM=offscreen callgrind_run "replay-$run" '*runTicks*' "$driver" replay \
        "$results/stream-10.bin" "$replay_ticks" "${size[@]}"
    callgrind_annotate --inclusive=yes --threshold=100 "$results/callgrind.replay-$run.out" \
        >"$results/callgrind.replay-$run.annotated.txt" 2>/dev/null
done
if [ -n "$before" ]; then
    QT_QPA_PLATFORM=offscreen callgrind_run ticks-packet-before '*runTicks*' "$bbin/bench_window" packets "$window_ticks"
fi

bench_save_machine "$results/machine.txt" "$before"
"$bench_root/bench/tables.sh" "$results"
