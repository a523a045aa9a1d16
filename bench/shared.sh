#!/usr/bin/env bash
# The shared store's figures for docs/PERFORMANCE.md: a fleet of unit-sim
# units into one rtrecorder whose history is a PostgreSQL server (through
# its spool), on a cluster of the script's own with durable commits. Two
# rows:
#   flow    the fleet for the whole run: readings on the server against
#           sent, how long after its arrival each reading was visible on the
#           server (bench_fleet watching from outside), the recorder's and
#           the server's CPU (the postmaster and its processes)
#   outage  the same fleet, the server stopped (pg_ctl stop -m fast) for a
#           while in the middle: how long after the server is back the
#           backlog is on it, and every reading once
#
#   trends  one unit's 24 h trends window opened on a server holding a
#           day of 200 units at one reading a second (17.28 M readings,
#           written by the server itself), bench_trends open with
#           BENCH_TRENDS_SOURCE
#
#   bench/shared.sh                      every row, 120 s each, 200 units at
#                                        10 packets/s, the server away 20 s
#   bench/shared.sh --seconds 60 --units 50 --outage 10
#   bench/shared.sh --rows trends
#   (and --build DIR, --out DIR, --jobs N: see bench/lib.sh)
#
# Raw results in RESULTS/shared/ROW/: rtrecorder.log, unit-sim.log,
# latency.txt, count.txt, cpu.txt, server.log; run.env; summary.txt.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

seconds=120
units=200
rate=10
outage=20
rows="flow outage trends"
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=${2:-}; shift 2 ;;
        --units) units=${2:-}; shift 2 ;;
        --outage) outage=${2:-}; shift 2 ;;
        --rows) rows=${2:-}; shift 2 ;;
        *) bench_option "$@"; shift "$bench_took" ;;
    esac
done
bench_whole "$seconds" && [ "$seconds" -ge 30 ] || { echo "--seconds needs a whole number of 30 or more" >&2; exit 2; }
bench_whole "$units" && bench_whole "$outage" || { echo "--units and --outage take whole numbers" >&2; exit 2; }

pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -x "${pg_bin:-}/initdb" ] || { echo "no PostgreSQL server installed (package postgresql)" >&2; exit 1; }

bench_results shared
bench_build_targets rtrecorder rthistory unit-sim bench_fleet bench_trends
bench_set seconds "$seconds"
bench_set units "$units"
bench_set rate "$rate"
bench_set outage "$outage"
ulimit -n 8192

# The server: a cluster of its own in a temporary folder, owned by an
# unprivileged user, on 127.0.0.1 only, with the durable commits a real
# server has (fsync on, unlike the test suite's).
pg_run=()
[ "$(id -u)" -eq 0 ] && pg_run=(runuser -u postgres --)
pg_dir=$(mktemp -d "${TMPDIR:-/tmp}/rtviewer-bench-pg.XXXXXX")
chmod 700 "$pg_dir"
[ "$(id -u)" -eq 0 ] && chown postgres: "$pg_dir"
pg_port=$((20000 + RANDOM % 40000))
pg_ctl() {
    "${pg_run[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/server.log" -w "$@" >/dev/null
}
pg_start() {
    pg_ctl -o "-c listen_addresses=127.0.0.1 -c port=$pg_port -c unix_socket_directories=$pg_dir -c max_connections=50 -c log_autovacuum_min_duration=0 -c log_checkpoints=on" start
}
pg_stop_all() {
    if [ -f "$pg_dir/data/postmaster.pid" ]; then
        pg_ctl -m immediate stop || true
    fi
    rm -rf "$pg_dir"
}
trap 'bench_cleanup; pg_stop_all' EXIT
"${pg_run[@]}" "$pg_bin/initdb" -D "$pg_dir/data" -U rtviewer -A trust -E UTF8 --locale=C >"$results/initdb.log" 2>&1
pg_start
uri_of() { echo "postgresql://rtviewer@127.0.0.1:$pg_port/$1"; }
# CPU ticks of the postmaster and every process it started.
server_ticks() {
    local main total=0 pid
    main=$(head -1 "$pg_dir/data/postmaster.pid")
    for pid in "$main" $(pgrep -P "$main" || true); do
        total=$((total + $(cpu_ticks "$pid" 2>/dev/null || echo 0)))
    done
    echo "$total"
}
ms_since() { echo $(( ($(now_ns) - $1) / 1000000 )); }

run_row() {
    local row=$1 dir=$results/$1
    mkdir -p "$dir"
    "${pg_run[@]}" "$pg_bin/psql" -q -h 127.0.0.1 -p "$pg_port" -U rtviewer -d postgres -c "CREATE DATABASE $row" >/dev/null
    local uri
    uri=$(uri_of "$row")
    "$bin/rthistory" migrate --db "$uri" >/dev/null
    log "$row: $units units at $rate packets/s for $seconds s into $uri"
    # The server idles while the simulator starts.
    local server_before start_ns
    server_before=$(server_ticks)
    bench_start_fleet "$dir" "$units" "$rate" --db "$uri" --spool "$dir/spool.sqlite3"
    local rec_pid=$fleet_rec_pid
    start_ns=$(now_ns)
    if [ "$row" = flow ]; then
        "$bin/bench_fleet" watch --db "$uri" --sent-log "$dir/sent.log" --seconds "$seconds" >"$dir/latency.txt" &
        local watch_pid=$!
        sleep "$seconds"
    else
        # Away from a third of the run on, for the outage; back, the time
        # until the backlog is on the server, from the recorder's line.
        local away=$((seconds / 3))
        sleep "$away"
        pg_ctl -m fast stop
        local stopped_ns
        stopped_ns=$(now_ns)
        sleep "$outage"
        pg_start
        local back_ns
        back_ns=$(now_ns)
        echo "away_ms $(( (back_ns - stopped_ns) / 1000000 ))" >"$dir/outage.txt"
        wait_line "$dir/rtrecorder.log" "forwarding resumed" 600 || echo "no resumed line" >&2
        echo "back_to_caught_up_ms $(ms_since "$back_ns")" >>"$dir/outage.txt"
        grep -o 'the backlog of .*' "$dir/rtrecorder.log" >>"$dir/outage.txt" || true
        sleep $((seconds - away - outage > 1 ? seconds - away - outage : 1))
    fi
    local ticks server_after end_ns
    ticks=$(cpu_ticks "$rec_pid")
    server_after=$(server_ticks)
    end_ns=$(now_ns)
    bench_stop_fleet
    [ "$row" = flow ] && { wait "$watch_pid" || true; }
    awk -v t="$ticks" -v s="$((server_after - server_before))" -v hz="$(getconf CLK_TCK)" \
        -v ns="$((end_ns - start_ns))" -v stop="$fleet_stop_ms" \
        'BEGIN {printf "recorder_cpu %.2f\nserver_cpu %.2f\nstop_ms %d\n", 100 * t / hz / (ns / 1e9), 100 * s / hz / (ns / 1e9), stop}' \
        >"$dir/cpu.txt"
    "$bin/bench_fleet" count --db "$uri" --sent-log "$dir/sent.log" >"$dir/count.txt"
    cp "$pg_dir/server.log" "$dir/server.log"
    rm -f "$dir"/spool.sqlite3*
}

# A day of 200 units ending now, written by the server from series (the
# recorder would take hours), then the trends window opened on unit 0001.
trends_row() {
    local dir=$results/trends uri
    mkdir -p "$dir"
    "${pg_run[@]}" "$pg_bin/psql" -q -h 127.0.0.1 -p "$pg_port" -U rtviewer -d postgres -c "CREATE DATABASE trends" >/dev/null
    uri=$(uri_of trends)
    "$bin/rthistory" migrate --db "$uri" >/dev/null
    log "trends: a day of 200 units into $uri"
    local fill_start
    fill_start=$(now_ns)
    # The units interleaved, a reading of each unit in turn, as a recorder
    # writes them: one unit's day lies a reading to a page of the table.
    # The server's cleaning (vacuum) marks the table's pages for reads from
    # the index alone after every 100,000 new readings (rthistory migrate
    # sets it); the last 100,000 are left unmarked, as just before the next
    # cleaning, the most a reader finds so.
    "${pg_run[@]}" "$pg_bin/psql" -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$pg_port" -U rtviewer -d trends >"$dir/fill.log" 2>&1 <<'SQL'
INSERT INTO units SELECT lpad(u::text, 4, '0') FROM generate_series(1, 200) u;
CREATE TEMPORARY TABLE day AS SELECT (extract(epoch FROM now()) * 1000)::bigint AS now_ms;
CREATE FUNCTION pg_temp.fill(first bigint, last bigint) RETURNS void LANGUAGE sql AS $$
INSERT INTO readings (time_ms, unit, packet, serial, unit_time_ms, gas_units, hole_depth, lag_depth, bit_depth,
                      rop_min_ft, rop_ft_hr, c1, c2, c3, ic4, nc4, error_number)
SELECT d.now_ms - (86399 - r.s) * 1000, lpad(r.u::text, 4, '0'), '\x'::bytea, lpad(r.u::text, 4, '0'),
       d.now_ms - (86399 - r.s) * 1000, 900 + 800 * sin(r.s / 900.0 + r.u), 5000 + r.s / 20.0, 4990 + r.s / 20.0,
       5000 + r.s / 20.0, 0.5, 120, 9000 + r.s % 500, 900, 300, 60, 40, 0
FROM day d, (SELECT g / 200 AS s, g % 200 + 1 AS u FROM generate_series(first, last) g) r
$$;
SELECT pg_temp.fill(0, 200 * 86400 - 100001);
VACUUM (ANALYZE) readings;
SELECT pg_temp.fill(200 * 86400 - 100000, 200 * 86400 - 1);
SQL
    echo "fill_ms $(ms_since "$fill_start")" >"$dir/trends.txt"
    QT_QPA_PLATFORM=offscreen BENCH_TRENDS_SOURCE="$uri" "${prio[@]}" "$bin/bench_trends" open 5 24h >>"$dir/trends.txt" 2>"$dir/bench_trends.log"
}

for row in $rows; do
    case "$row" in
        flow|outage) run_row "$row" ;;
        trends) trends_row ;;
        *) echo "--rows: $row is not flow, outage or trends" >&2; exit 2 ;;
    esac
done

bench_save_machine
{
    for row in $rows; do
        echo "== $row"
        [ -f "$results/$row/trends.txt" ] && cat "$results/$row/trends.txt"
        [ "$row" = trends ] && continue
        grep -h "^total" "$results/$row/count.txt" || true
        cat "$results/$row/cpu.txt"
        [ -f "$results/$row/latency.txt" ] && cat "$results/$row/latency.txt"
        [ -f "$results/$row/outage.txt" ] && cat "$results/$row/outage.txt"
    done
    cat "$results/machine.txt"
} | tee "$results/summary.txt"
