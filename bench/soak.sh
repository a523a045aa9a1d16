#!/usr/bin/env bash
# Soak: the viewer, headless, fed by unit-sim at 10 packets a second with
# every corruption mode on, for a set time; its resident memory is sampled
# from /proc every few seconds. The run fails when memory keeps growing or
# the viewer stops taking in data.
#
#   bench/soak.sh [--minutes N] [--interval S] [--driver PATH] [--sim PATH]
#   bench/soak.sh --minutes 1 --interval 2    a quick look
#   bench/soak.sh --analyse DIR      judge the files of an earlier run again
#   bench/soak.sh --redraw DIR       the same, with the machine it ran on
#   (and --build DIR, --out DIR, --jobs N: see bench/lib.sh)
#
# The viewer is bench/soak/soakdriver: the real main window, pointed at the
# simulator through its lookup table, with Connect pressed through the button
# (the viewer has no command line of its own). It prints a line every
# interval with the packets the window accepted and the report lines it
# wrote. The files of a run stay in RESULTS/soak/:
#   rss.tsv      seconds, VmRSS in KiB (read here, from /proc/<pid>/status)
#   driver.log   the driver's lines          sim.log   the simulator's lines
#
# Memory criterion (over the samples of the second half of the run, after
# the start-up has settled):
#   fail when the least-squares slope exceeds SOAK_SLOPE_KIB_MIN (default
#   16 KiB a minute) AND the mean of the last quarter exceeds the mean of the
#   second quarter by more than SOAK_GROWTH_KIB (default 128 KiB).
# A leak of 50 bytes per packet sent (10 a second) grows 29 KiB a minute,
# 146 KiB between the quarter means of a ten-minute run. The healthy viewer's
# samples wander up and down by up to about 200 KiB without a trend (slopes
# of -11.5 to +4.5 KiB a minute over the second halves measured so far).
#
# Liveness criterion (the viewer must keep updating):
#   - the driver printed a line at least every 3 intervals and ended through
#     the window's own shut-down ("soak ended");
#   - the count of accepted packets grew in every 30 seconds after the first
#     30, and the socket state was 7 (connected) in every line after them;
#   - the simulator logged the viewer's keep-alives (one every 100 s from
#     the viewer's start), at least (seconds / 100) - 1 of them: the tick
#     runs and the viewer still sees itself connected;
#   - the simulator saw exactly one connection, kept to the end.

set -euo pipefail
source "$(dirname "$0")/lib.sh"

minutes=10
interval=5
driver=""
sim=""
analyse_only=""

while [ $# -gt 0 ]; do
    case "$1" in
        --minutes) minutes=${2:-}; shift 2 ;;
        --interval) interval=${2:-}; shift 2 ;;
        --driver) driver=${2:-}; shift 2 ;;
        --sim) sim=${2:-}; shift 2 ;;
        --analyse) analyse_only=${2:-}; shift 2 ;;
        *) bench_option "$@"; shift "$bench_took" ;;
    esac
done
bench_whole "$minutes" && [ "$minutes" -ge 1 ] || { echo "--minutes needs a whole number of 1 or more" >&2; exit 2; }
bench_whole "$interval" && [ "$interval" -ge 1 ] || { echo "--interval needs a whole number of 1 or more" >&2; exit 2; }
bench_redraw_if_asked

slope_limit=${SOAK_SLOPE_KIB_MIN:-16}
growth_limit=${SOAK_GROWTH_KIB:-128}

analyse() {
    local dir=$1
    local seconds
    seconds=$(cat "$dir/seconds")
    local failed=0

    echo "== memory (VmRSS, KiB) =="
    if ! awk -v slope_limit="$slope_limit" -v growth_limit="$growth_limit" '
        BEGIN { n = 0 }
        { t[n] = $1; r[n] = $2; n++ }
        END {
            if (n < 8) { print "too few samples: " n; exit 1 }
            min = r[0]; max = r[0]
            for (i = 0; i < n; i++) { if (r[i] < min) min = r[i]; if (r[i] > max) max = r[i] }
            h = int(n / 2); q = int(n / 4)
            sx = 0; sy = 0; sxx = 0; sxy = 0; m = 0
            for (i = h; i < n; i++) {
                x = t[i] / 60.0; sx += x; sy += r[i]; sxx += x * x; sxy += x * r[i]; m++
            }
            slope = (m * sxy - sx * sy) / (m * sxx - sx * sx)
            q2 = 0; for (i = q; i < 2 * q; i++) q2 += r[i]; q2 /= q
            q4 = 0; for (i = n - q; i < n; i++) q4 += r[i]; q4 /= q
            printf "samples %d over %d s; first %d, last %d, min %d, max %d\n", n, t[n-1], r[0], r[n-1], min, max
            printf "second-quarter mean %.0f, last-quarter mean %.0f, growth %+.0f KiB\n", q2, q4, q4 - q2
            printf "second-half slope %+.1f KiB/min (limits: slope %d KiB/min and growth %d KiB)\n", slope, slope_limit, growth_limit
            if (slope > slope_limit && q4 - q2 > growth_limit) { print "FAIL: memory keeps growing"; exit 1 }
            print "memory: flat"
        }' "$dir/rss.tsv"; then
        failed=1
    fi

    echo "== liveness =="
    if ! awk -v interval="$(cat "$dir/interval")" -v seconds="$seconds" '
        /^soak t=/ {
            for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
            t = v["t"] + 0
            if (lines > 0 && t - last_t > 3 * interval) { printf "FAIL: no line for %d s before t=%d\n", t - last_t, t; bad = 1 }
            last_t = t; lines++
            if (t >= 30 && v["state"] != 7) { printf "FAIL: state %s at t=%d\n", v["state"], t; bad = 1 }
            acc[lines] = v["accepted"] + 0; at[lines] = t
            final = $0
        }
        /^soak ended/ { ended = 1 }
        END {
            # Packets accepted in every 30 s after the first 30.
            j = 1
            for (i = 1; i <= lines; i++) {
                if (at[i] < 30) continue
                while (j < i && at[i] - at[j] > 30) j++
                if (at[i] - at[j] >= 30 - interval && acc[i] <= acc[j]) {
                    printf "FAIL: no packet accepted between t=%d and t=%d\n", at[j], at[i]; bad = 1
                }
            }
            if (lines == 0) { print "FAIL: the driver printed nothing"; bad = 1 }
            if (!ended) { print "FAIL: the driver did not end through the shut-down"; bad = 1 }
            print "last driver line: " final
            exit bad
        }' "$dir/driver.log"; then
        failed=1
    fi

    local keepalives connections gone expected
    keepalives=$(grep -c ' keep-alive ' "$dir/sim.log" || true)
    connections=$(grep -c ' connected from ' "$dir/sim.log" || true)
    gone=$(grep ' gone: ' "$dir/sim.log" | head -1 || true)
    expected=$(( seconds / 100 - 1 ))
    echo "keep-alives seen by the simulator: $keepalives (at least $expected expected)"
    echo "connections: $connections; end: ${gone:-none logged}"
    if [ "$keepalives" -lt "$expected" ]; then echo "FAIL: too few keep-alives"; failed=1; fi
    if [ "$connections" -ne 1 ]; then echo "FAIL: expected exactly one connection"; failed=1; fi
    if [ -n "$gone" ] && ! grep -q 'closed by the viewer' <<<"$gone"; then
        echo "FAIL: the connection ended before the viewer closed it"; failed=1
    fi
    echo "== packets =="
    grep -c ' fault: packet ' "$dir/sim.log" | sed 's/^/corrupt packets sent: /' || true
    grep -c ' fault: burst ' "$dir/sim.log" | sed 's/^/bursts sent: /' || true

    if [ "$failed" -ne 0 ]; then echo "SOAK FAILED ($dir)"; return 1; fi
    echo "SOAK PASSED ($dir)"
}

if [ -n "$analyse_only" ]; then
    analyse "$analyse_only"
    exit $?
fi

bench_results soak
if [ -z "$driver" ] || [ -z "$sim" ]; then
    bench_build_targets soakdriver unit-sim
    driver=${driver:-$bin/soakdriver}
    sim=${sim:-$bin/unit-sim}
fi

out=$results
seconds=$(( minutes * 60 ))
echo "$seconds" > "$out/seconds"
echo "$interval" > "$out/interval"
: > "$out/rss.tsv"

# Every corruption mode at once. The link faults (close, reset, silence,
# accept delay) are left out: each would end or stall the one connection
# the soak watches.
sim_log=$out/sim.log
start_sim soak --rate 10 --wits-period 2 --uptime-period 10 \
    --bad-checksum 7 --split --batch 3 --wits-glued --junk 4 --burst 60 \
    --long-packet 11 --no-comma 13 --non-numeric 5
port=$sim_port

bench_private_home
export QT_QPA_PLATFORM=offscreen
"$driver" --port "$port" --seconds "$seconds" --report-seconds "$interval" > "$out/driver.log" 2>&1 &
driver_pid=$!
started+=("$driver_pid")
echo "soak: $minutes min, viewer pid $driver_pid, simulator pid $sim_pid on port $port, files in $out"

start=$(date +%s)
while sleep "$interval" && kill -0 "$driver_pid" 2>/dev/null; do
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$driver_pid/status" 2>/dev/null || true)
    now=$(( $(date +%s) - start ))
    # The shut-down at the end is not part of the steady state.
    if [ -n "$rss" ] && [ "$now" -lt "$seconds" ]; then printf '%d\t%d\n' "$now" "$rss" >> "$out/rss.tsv"; fi
done
driver_status=0
wait "$driver_pid" || driver_status=$?
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
echo "driver exit status: $driver_status"

bench_save_machine
"$bench_root/bench/tables.sh" "$out"
