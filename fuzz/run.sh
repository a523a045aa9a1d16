#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs them.
#
#   fuzz/run.sh [SECONDS] [TARGET...]  fuzz each target for SECONDS (default 300)
#   fuzz/run.sh --smoke [TARGET...]    the bounded run of ./test.sh: fixed seed,
#                                      fixed number of runs, under a minute in all
#   fuzz/run.sh --capture-seeds        record unit-sim traffic (every fault mode)
#                                      as seeds of fuzz_receive
#   fuzz/run.sh --build-only           build the targets and run nothing
#
# Every target runs under AddressSanitizer and UndefinedBehaviorSanitizer.
# The seeds in fuzz/corpus/<target>/ are read, never written: what a run
# learns goes to build-fuzz/fuzz/work/<target>/ and is kept for the next long
# run. A finding is saved as build-fuzz/fuzz/findings/<target>/crash-* and
# makes the script fail; replay one with
#   build-fuzz/fuzz/<target> build-fuzz/fuzz/findings/<target>/crash-...
# and keep it as a regression seed in fuzz/corpus/<target>/ once understood.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
source scripts/deps.sh
ensure_deps
ensure_fuzz_deps

mode=long
seconds=300
if [ "${1:-}" = "--smoke" ]; then
    mode=smoke
    shift
elif [ "${1:-}" = "--capture-seeds" ]; then
    mode=capture
    shift
elif [ "${1:-}" = "--build-only" ]; then
    mode=build
    shift
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi

all_targets=(fuzz_receive fuzz_config fuzz_keymessage)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

build=$root/build-fuzz
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2
export CC=${CC:-clang-14} CXX=${CXX:-clang++-14}
# CC and CXX count only when the folder is first configured.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRTVIEWER_FUZZ=ON -DRTVIEWER_BENCH=OFF \
    -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=16 >/dev/null

if [ "$mode" = capture ]; then
    cmake --build "$build" --target unit-sim -j"$jobs" >/dev/null
    sim=$build/bin/unit-sim
    out=$root/fuzz/corpus/fuzz_receive
    mkdir -p "$out"
    # name, bytes kept, unit-sim options. With a seed and a start time the
    # stream is the same byte for byte on every run.
    captures=(
        "sim-plain 3000"
        "sim-no-lf 3000 --no-lf"
        "sim-alarm 3000 --alarm 1203 --gas 1500"
        "sim-bad-checksum 3000 --bad-checksum 2"
        "sim-batch 3000 --batch 3"
        "sim-wits-glued 3000 --wits-glued"
        "sim-junk 3000 --junk 24"
        "sim-burst 7000 --burst 1 --burst-size 6000"
        "sim-long-packet 3000 --long-packet 2"
        "sim-no-comma 3000 --no-comma 2"
        "sim-non-numeric 3000 --non-numeric 2"
    )
    for capture in "${captures[@]}"; do
        read -r name bytes options <<<"$capture"
        log=$(mktemp)
        # shellcheck disable=SC2086
        "$sim" --port 0 --seed 7 --start-time 2024-03-01T06:00:00 --rate 20 --wits-period 1 \
            --uptime-period 1 $options >"$log" 2>&1 &
        pid=$!
        port=
        for _ in $(seq 100); do
            port=$(sed -n '1s/^unit-sim listening on .*:\([0-9]*\)$/\1/p' "$log")
            [ -n "$port" ] && break
            sleep 0.1
        done
        [ -n "$port" ] || { echo "unit-sim did not start: $(cat "$log")" >&2; kill "$pid"; exit 1; }
        exec 3<>"/dev/tcp/127.0.0.1/$port"
        # Two header bytes: chunk sizes seeded by 1, chunks of up to 25
        # characters, so packets arrive split as they do on a slow link.
        { printf '\001\001'; timeout 4 head -c "$bytes" <&3 || true; } >"$out/$name"
        exec 3<&-
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        rm -f "$log"
        echo "$name: $(($(wc -c <"$out/$name") - 2)) bytes of unit-sim $options"
    done
    exit 0
fi

cmake --build "$build" --target "${targets[@]}" -j"$jobs" >/dev/null
[ "$mode" = build ] && exit 0

export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-}

# Per target: the longest input, and the number of runs of the smoke.
declare -A max_len=([fuzz_receive]=8192 [fuzz_config]=20000 [fuzz_keymessage]=1024)
declare -A smoke_runs=([fuzz_receive]=8000 [fuzz_config]=15000 [fuzz_keymessage]=50000)

failed=0
printf '%-16s %12s %10s %8s %s\n' target executions "exec/s" seconds findings
for target in "${targets[@]}"; do
    binary=$build/fuzz/$target
    seeds=$root/fuzz/corpus/$target
    findings=$build/fuzz/findings/$target
    mkdir -p "$findings"
    dict=()
    [ -f "$root/fuzz/$target.dict" ] && dict=(-dict="$root/fuzz/$target.dict")
    if [ "$mode" = smoke ]; then
        work=$(mktemp -d)
        limit=(-seed=1 -runs="${smoke_runs[$target]}")
    else
        work=$build/fuzz/work/$target
        mkdir -p "$work"
        limit=(-max_total_time="$seconds")
    fi
    before=$(find "$findings" -type f | wc -l)
    log=$build/fuzz/$target.log
    start=$(date +%s)
    status=0
    "$binary" "${limit[@]}" -max_len="${max_len[$target]}" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$findings/" "${dict[@]}" "$work" "$seeds" >"$log" 2>&1 || status=$?
    elapsed=$(($(date +%s) - start))
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    after=$(find "$findings" -type f | wc -l)
    found=$((after - before))
    [ "$mode" = smoke ] && rm -rf "$work"
    if [ "$status" -ne 0 ] || [ "$found" -gt 0 ]; then
        failed=1
        printf '%-16s %12s %10s %8s %s\n' "$target" "${executions:-?}" "${speed:-?}" "$elapsed" \
            "FAILED (exit $status, $found new in $findings; log $log)"
        grep -E "ERROR|runtime error|^fuzz_|detail:|SUMMARY" "$log" | head -20 >&2 || true
    else
        printf '%-16s %12s %10s %8s %s\n' "$target" "$executions" "$speed" "$elapsed" none
    fi
done
exit "$failed"
