#!/usr/bin/env bash
# Prints the tables of docs/PERFORMANCE.md from the raw results the bench
# scripts saved, without measuring anything: each measuring script ends by
# calling it on its own folder, bench/run.sh on the whole results folder, and
# any of them with --redraw DIR runs it again later.
#
#   bench/tables.sh DIR    DIR: a results folder (build-bench/bench-results
#                          by default) or the folder of one script in it
#                          (hotpaths/, lifecycle/, side/, sweep/, history/,
#                          trends/, fleet/, soak/)
#
# Exits 1 when a soak's criteria fail, as bench/soak.sh does.
set -euo pipefail
[ $# -eq 1 ] && [ -d "$1" ] || { echo "usage: bench/tables.sh RESULTS-FOLDER" >&2; exit 2; }
dir=$(realpath "$1")
source "$(dirname "$0")/lib.sh"
trap - EXIT

order=(hotpaths lifecycle side sweep history trends fleet soak)
declare -A at
if [ -f "$dir/part" ]; then
    at[$(cat "$dir/part")]=$dir
else
    for p in "${order[@]}"; do
        [ -f "$dir/$p/part" ] && at[$p]=$dir/$p
    done
fi
[ ${#at[@]} -gt 0 ] || { echo "bench/tables.sh: no results in $dir" >&2; exit 1; }
has() { [ -n "${at[$1]:-}" ]; }
# A setting or figure of a part's run (run.env); "nan" when it is missing.
setting() {
    awk -v k="$2" 'index($0, k "=") == 1 {v = substr($0, length(k) + 2); found = 1} END {print (found ? v : "nan")}' \
        "${at[$1]}/run.env" 2>/dev/null || echo nan
}

# ---------------------------------------------------------------- the machine
echo
if [ -f "$dir/machine.txt" ]; then
    cat "$dir/machine.txt"
elif [ ${#at[@]} -eq 1 ]; then
    for p in "${!at[@]}"; do cat "${at[$p]}/machine.txt" 2>/dev/null || true; done
else
    for p in "${order[@]}"; do
        has "$p" || continue
        echo "$p/:"
        sed 's/^/  /' "${at[$p]}/machine.txt" 2>/dev/null || true
    done
fi

# ---------------------------------------------------------------- hot paths
if has hotpaths; then
    hp=${at[hotpaths]}
    # field of the median row of a benchmark: cpu_time (4) bytes/s (6) items/s (7) error (9)
    gb() {
        awk -F, -v want="\"$2_median\"" -v col="$3" '$1 == want {gsub(/"/, "", $col); print $col; found=1}
            END {if (!found) print "nan"}' "$hp/$1.csv" 2>/dev/null || echo nan
    }
    gb_ok() { [ "$(gb "$1" "$2" 9)" != "true" ] && [ "$(gb "$1" "$2" 7)" != "nan" ]; }
    # Instructions callgrind collected in a run.
    collected() {
        local n
        n=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$hp/callgrind.$1.txt" 2>/dev/null || true)
        echo "${n:-0}"
    }
    parser_calls=$(setting hotpaths parser_calls)
    wits_calls=$(setting hotpaths wits_calls)
    window_ticks=$(setting hotpaths window_ticks)
    replay_ticks=$(setting hotpaths replay_ticks)
    before_hp=$(setting hotpaths before)
    [ "$before_hp" = nan ] && before_hp=""
    ir_packet=$(( $(collected parser-packet) / parser_calls ))
    ir_wits=$(( $(collected parser-wits) / wits_calls ))
    ir_status=$(( $(collected parser-status) / parser_calls ))
    ir_tick_idle=$(( $(collected ticks-idle) / window_ticks ))
    ir_tick_packet=$(( $(collected ticks-packet) / window_ticks ))
    ir_startup=$(collected startup)
    declare -A ir_replay
    replay_runs=(after-full after-compact)
    [ -n "$before_hp" ] && replay_runs+=(before-full before-compact)
    for run in "${replay_runs[@]}"; do
        ir_replay[$run]=$(( $(collected "replay-$run") / replay_ticks ))
    done
    [ -n "$before_hp" ] && ir_before_synthetic=$(( $(collected ticks-packet-before) / window_ticks ))
    # Inclusive instructions per packet of the first function whose name
    # starts with the given text, in a replay's profile; 0 when it did not run.
    part() {
        awk -v want="???:$2" -v ticks="$replay_ticks" 'index($0, want) {gsub(/,/, "", $1); printf "%.0f\n", $1 / ticks; found=1; exit}
            END {if (!found) print 0}' "$hp/callgrind.replay-$1.annotated.txt"
    }
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
fi

# ---------------------------------------------------------------- start-up and shut-down
if has lifecycle; then
    lc=${at[lifecycle]}
    lc_runs=$(setting lifecycle runs)
    startup_map=$(median <"$lc/startup-map.ms")
    startup_map_max=$(maximum <"$lc/startup-map.ms")
    startup_paint=$(median <"$lc/startup-paint.ms")
    startup_paint_max=$(maximum <"$lc/startup-paint.ms")
    startup_elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s * 1000}' \
        "$lc/startup-time.txt" | median)
    startup_cpu=$(awk -F': ' '/User time/ {u = $2} /System time/ {print (u + $2) * 1000}' "$lc/startup-time.txt" | median)
    startup_rss=$(awk -F': ' '/Maximum resident set size/ {print $2 / 1024}' "$lc/startup-time.txt" | median)
    shutdown=$(median <"$lc/shutdown.ms")
    shutdown_max=$(maximum <"$lc/shutdown.ms")
    shutdown_loop=$(median <"$lc/shutdown-loop.ms")
fi

# ---------------------------------------------------------------- side by side
if has side; then
    sd=${at[side]}
    seconds=$(setting side seconds)
    rounds=$(setting side rounds)
    hz=$(setting side hz)
    read -r -a side_runs <<<"$(setting side runs)"
    before_side=$(setting side before)
    [ "$before_side" = nan ] && before_side=""
    # % of one core between two rounds' notes in cpu.tsv (column 4: the
    # program, 5: its X server).
    pct_between() {  # run column from-round to-round
        awk -F'\t' -v r="$1" -v c="$2" -v a="$3" -v b="$4" -v hz="$hz" '
            $1 == r && $2 == a {ta = $3; va = $c} $1 == r && $2 == b {tb = $3; vb = $c}
            END {printf "%.3f", 100 * (vb - va) / hz / ((tb - ta) / 1e9)}' "$sd/cpu.tsv"
    }
    declare -A cpu_pct xcpu_pct cpu_lo cpu_hi rss_start rss_end rss_max rss_time caption_ok
    for r in "${side_runs[@]}"; do
        cpu_pct[$r]=$(pct_between "$r" 4 0 "$rounds")
        xcpu_pct[$r]=$(pct_between "$r" 5 0 "$rounds")
        each=$(for round in $(seq "$rounds"); do pct_between "$r" 4 $(( round - 1 )) "$round"; echo; done)
        cpu_lo[$r]=$(minimum <<<"$each")
        cpu_hi[$r]=$(maximum <<<"$each")
        caption_ok[$r]=$(setting side "shown_$r")
        [ "$r" = xterm ] && continue
        rss_start[$r]=$(head -1 "$sd/rss.$r.kb")
        rss_end[$r]=$(tail -1 "$sd/rss.$r.kb")
        rss_max[$r]=$(maximum <"$sd/rss.$r.kb")
        rss_time[$r]=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$sd/time.$r.txt" 2>/dev/null || true)
    done
    mb() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
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
            printf 'not measured: no packets shown (see %s)' "$sd/caption.$r.txt"
        fi
    }
    met_fed() {  # run, CPU limit in %
        local r=$1
        yesno "$(awk -v ok="${caption_ok[$r]}" -v c="${cpu_pct[$r]}" -v l="$2" -v m="${rss_time[$r]}" \
            -v a="${rss_start[$r]}" -v b="${rss_end[$r]}" 'BEGIN {print (ok && c < l && m < 61440 && b - a <= 1024)}')"
    }
fi

# ---------------------------------------------------------------- the first table
if has hotpaths || has lifecycle || has side; then
    echo
    echo "| Figure | Measured | Target | Met |"
    echo "|---|---|---|---|"
    if has hotpaths; then
        packets_ps=$(gb bench_parser BM_parse_data_packet 7)
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
    fi
    if has lifecycle; then
        echo "| Start-up: rtviewer exec to its window mapped (Xvfb), median of $lc_runs | $(fmt "$startup_map" '%.0f') ms (max $(fmt "$startup_map_max" '%.0f') ms) | ≤ 500 ms | $(yesno "$(awk -v v="$startup_map_max" 'BEGIN {print (v != "nan" && v <= 500)}')") |"
        echo "| Start-up: exec to the first paint of the window (bench_window, Xvfb), median of $lc_runs | $(fmt "$startup_paint" '%.0f') ms (max $(fmt "$startup_paint_max" '%.0f') ms); whole process $(fmt "$startup_elapsed" '%.0f') ms wall, $(fmt "$startup_cpu" '%.0f') ms CPU, max RSS $(fmt "$startup_rss" '%.1f') MB (/usr/bin/time) | ≤ 500 ms | $(yesno "$(awk -v v="$startup_paint_max" 'BEGIN {print (v != "nan" && v <= 500)}')") |"
    fi
    if has hotpaths; then
        echo "| Start-up: instructions from exec to the first paint and exit (offscreen, callgrind) | $(group "$ir_startup") | | |"
    fi
    if has side; then
        echo "| Idle, disconnected, $seconds s: CPU of one core (whole process) \\| resident memory | $(fed_row idle) | < 0.2 % \\| < 60 MB, flat | $(met_fed idle 0.2) |"
        echo "| Fed by unit-sim at 1 packet/s, $seconds s: CPU \\| resident memory | $(fed_row rate1) | < 2 % \\| < 60 MB, flat | $(met_fed rate1 2) |"
        echo "| Fed by unit-sim at 10 packets/s, $seconds s: CPU \\| resident memory | $(fed_row rate10) | < 1.0 % \\| < 60 MB, flat | $(met_fed rate10 1.0) |"
        echo "| Fed at 10 packets/s with the full window (More Data), $seconds s: CPU \\| resident memory | $(fed_row rate10full) | < 1.3 % \\| < 60 MB, flat | $(met_fed rate10full 1.3) |"
    fi
    if has lifecycle; then
        echo "| Shut-down, disconnected: close to process gone (bench_window, Xvfb), median of $lc_runs | $(fmt "$shutdown" '%.1f') ms (max $(fmt "$shutdown_max" '%.1f') ms; close to the end of the event loop $(fmt "$shutdown_loop" '%.2f') ms) | ≤ 200 ms | $(yesno "$(awk -v v="$shutdown_max" 'BEGIN {print (v != "nan" && v <= 200)}')") |"
    fi
fi

# ---------------------------------------------------------------- side by side
# % of one core over the whole window (the rounds' lowest and highest in
# brackets), the program's X server, and both together.
if has side; then
    side_row() {  # run, label, target (empty for none), limit
        local r=$1 label=$2 target=${3:-} limit=${4:-}
        local cpu="${cpu_pct[$r]} % (${cpu_lo[$r]}–${cpu_hi[$r]})"
        [ "${caption_ok[$r]}" = 1 ] || cpu="not measured: no packets shown"
        local met=""
        [ -n "$limit" ] && met=$(yesno "$(awk -v ok="${caption_ok[$r]}" -v c="${cpu_pct[$r]}" -v l="$limit" 'BEGIN {print (ok && c < l)}')")
        printf '| %s | %s | %s %% | %s %% | %s | %s |\n' "$label" "$cpu" "${xcpu_pct[$r]}" \
            "$(awk -v a="${cpu_pct[$r]}" -v b="${xcpu_pct[$r]}" 'BEGIN {printf "%.3f", a + b}')" "$target" "$met"
    }
    echo
    echo "Side by side at 10 packets a second ($seconds s, $rounds rounds):"
    echo
    echo "| Program (unit-sim --seed 7, the same stream to each) | Program: CPU, % of one core (rounds: lowest–highest) | Its X server (Xvfb) | Together | Target | Met |"
    echo "|---|---|---|---|---|---|"
    side_row rate10 "Viewer, 10 packets/s, window as it starts (compact)" "< 1.0 %" 1.0
    side_row rate10full "Viewer, 10 packets/s, full window (More Data)" "< 1.3 %" 1.3
    side_row idle "Viewer, idle (disconnected)" "< 0.2 %" 0.2
    side_row rate1 "Viewer, 1 packet/s, compact"
    if [ -n "$before_side" ]; then
        side_row before-rate10 "Earlier viewer, 10 packets/s, compact"
        side_row before-rate10full "Earlier viewer, 10 packets/s, full window"
        side_row before-idle "Earlier viewer, idle (disconnected)"
    fi
    side_row xterm "xterm running nc, 10 packets/s (80×24)"
fi

# ---------------------------------------------------------------- rate sweep
if has sweep; then
    sw=${at[sweep]}
    rates=$(setting sweep rates)
    read -r -a sweep_builds <<<"$(setting sweep builds)"
    sv() { awk -F= -v k="$3" '$1 == k {print $2; found=1} END {if (!found) print "nan"}' "$sw/sweep.$1.$2.txt" 2>/dev/null || echo nan; }
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
    echo
    echo "Rate sweep (full window, $(setting sweep seconds) s a rate):"
    echo
    echo "This build:"
    echo
    sweep_table after
    if [ ${#sweep_builds[@]} -gt 1 ]; then
        echo
        echo "Earlier build:"
        echo
        sweep_table before
    fi
fi

# ---------------------------------------------------------------- where a packet's instructions go
# Instructions per packet of the replayed stream, by part (callgrind,
# inclusive). The traffic window's text update is TrafficWindow::flush in
# this build and disply_text, called from the poll, in the earlier one.
if has hotpaths; then
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
    echo
    echo "Instructions per packet of unit-sim's stream replayed at one packet a tick ($replay_ticks packets):"
    echo
    labels_rows=("**Whole tick, per packet**" "Traffic window: repaint (QPlainTextEdit::paintEvent)"
        "Traffic window: text update and layout" "Boxes: repaint (QLabel::paintEvent)"
        "The rest of the repaint (frames, buttons, scroll bars, status line, handing the image over)"
        "Receive poll: parser, boxes filled, traffic text kept" "— of which the parser" "— of which populate_moredata"
        "Everything else (tick, WITS second, status line, event loop)")
    header="| Part (instructions per packet) | This build, full window | This build, compact"
    sep="|---|---|---"
    cols=(after-full after-compact)
    if [ -n "$before_hp" ]; then
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
    if [ -n "$before_hp" ]; then
        echo "| Whole tick, every reading changed each packet (samplestream), full window | $(mega "$ir_tick_packet") | | $(mega "$ir_before_synthetic") | |"
    fi
fi

# ---------------------------------------------------------------- the history
if has history; then
    hs=${at[history]}
    h_rows=$(setting history rows)
    h_seconds=$(setting history seconds)
    # A field of the first Google Benchmark run whose name starts with the
    # given text, from its JSON output (one key a line); "nan" when there is
    # none.
    hb() {
        awk -v want="\"name\": \"$1" -v key="\"$2\": " '
            index($0, want) {on = 1; next}
            on && /^ *}/ {exit}
            on && index($0, key) {v = substr($0, index($0, key) + length(key)); sub(/,$/, "", v); gsub(/"/, "", v)
                                  print v; found = 1; exit}
            END {if (!found) print "nan"}' "$hs/bench_history.json" 2>/dev/null || echo nan
    }
    hb_ok() { [ "$(hb "$1" error_occurred)" != true ] && [ "$(hb "$1" real_time)" != nan ]; }
    ms() { fmt "$1" '%.1f'; }
    recording_line=$(grep '^link alone' "$hs/bench_recording.txt" 2>/dev/null || true)
    read -r alone with adds < <(sed -n 's/^link alone \([0-9.-]*\) % of one core, with the recorder \([0-9.-]*\) %: recording adds \([0-9.-]*\) % .*/\1 \2 \3/p' \
        <<<"$recording_line") || true
    size_line=$(grep '^file: ' "$hs/bench_history.txt" 2>/dev/null || true)
    file_mb=$(sed -n 's/^file: \([0-9.]*\) MB.*/\1/p' <<<"$size_line")
    per_reading=$(sed -n 's/.*: \([0-9]*\) bytes a reading.*/\1/p' <<<"$size_line")
    echo
    echo "The history, a file of $(group "$h_rows") readings:"
    echo
    echo "| Figure | Measured | Target | Met |"
    echo "|---|---|---|---|"
    if [ -n "${adds:-}" ]; then
        echo "| Recording at 10 packets/s (and a WITS record every 5 s), CPU added to the process, with and without the recorder in one run (\`bench_recording $h_seconds 2\`: two turns of $h_seconds s each way) | **$adds %** of one core ($alone % link alone, $with % with the recorder) | < 0.2 % | $(yesno "$(awk -v v="$adds" 'BEGIN {print (v < 0.2)}')") |"
    else
        echo "| Recording at 10 packets/s, CPU added to the process | failed (see bench_recording.txt) | < 0.2 % | **no** |"
    fi
    q=BM_Query24hGasUnits
    if hb_ok "$q"; then
        echo "| Query of 24 hours of one unit's gas units (86,400 values, a random day per run, $(hb "$q" iterations) runs) | **$(ms "$(hb "$q" real_time)") ms** ($(ms "$(hb "$q" cpu_time)") ms CPU) | < 100 ms | $(yesno "$(awk -v v="$(hb "$q" real_time)" 'BEGIN {print (v < 100)}')") |"
    else
        echo "| Query of 24 hours of one unit's gas units | failed (see bench_history.txt) | < 100 ms | **no** |"
    fi
    e=BM_Export24hCsv
    if hb_ok "$e"; then
        echo "| Export of 24 hours to CSV (86,400 rows, $(fmt "$(hb "$e" MB)" '%.1f') MB, a random day per run, $(hb "$e" iterations) runs) | **$(ms "$(hb "$e" real_time)") ms** ($(ms "$(hb "$e" cpu_time)") ms CPU) | < 2 s | $(yesno "$(awk -v v="$(hb "$e" real_time)" 'BEGIN {print (v < 2000)}')") |"
    else
        echo "| Export of 24 hours to CSV | failed (see bench_history.txt) | < 2 s | **no** |"
    fi
    i0=BM_Insert/year:0/seconds:3600
    i1=BM_Insert/year:1/seconds:3600
    if hb_ok "$i0" && hb_ok "$i1"; then
        echo "| Inserting an hour (3,600 readings, 7,200 WITS items) in one transaction: an empty file against the end of this file | $(ms "$(hb "$i0" real_time)") ms against $(ms "$(hb "$i1" real_time)") ms: $(group "$(hb "$i0" readings/s)") against $(group "$(hb "$i1" readings/s)") readings/s | keeps its rate | |"
    fi
    s0=BM_Insert/year:0/seconds:1/
    s1=BM_Insert/year:1/seconds:1/
    if hb_ok "$s0" && hb_ok "$s1"; then
        echo "| Inserting one second (1 reading, every fifth second a WITS record) in one transaction, as the viewer does at 1 packet/s: empty file against this file | $(fmt "$(hb "$s0" real_time)" '%.2f') ms ($(fmt "$(hb "$s0" cpu_time)" '%.2f') ms CPU) against $(fmt "$(hb "$s1" real_time)" '%.2f') ms ($(fmt "$(hb "$s1" cpu_time)" '%.2f') ms CPU) | | |"
    fi
    echo "| File size per reading | **$(fmt "$per_reading" '%.0f') bytes**; $(fmt "$file_mb" '%.1f') MB for $(group "$h_rows") readings | written down | |"
    if grep -q '^  ' "$hs/bench_history.txt" 2>/dev/null; then
        echo
        echo "The file's parts:"
        echo
        grep '^  ' "$hs/bench_history.txt"
    fi
    if grep -q '^building ' "$hs/bench_history.txt" 2>/dev/null; then
        echo
        echo "Insert rate while building:"
        echo
        awk '/^ *readings +readings\/s/ {on = 1} on && NF == 4 {print}' "$hs/bench_history.txt"
    fi
fi

# ---------------------------------------------------------------- the trends window
if has trends; then
    tr=${at[trends]}
    t_runs=$(setting trends runs)
    # From an opening's summary: open median (1), worst (2), CPU (3), repaint (4).
    opened() {
        sed -n 's/^median of [0-9]*: open to every chart painted \([0-9.]*\) ms (worst \([0-9.]*\) ms), \([0-9.]*\) ms of CPU; repaint \([0-9.]*\) ms$/\1 \2 \3 \4/p' \
            "$tr/open-$1.txt" 2>/dev/null | awk -v f="$2" '{print $f; found = 1} END {if (!found) print "nan"}'
    }
    # From a following's summary: closed (1), open (2), added (3), % of one core.
    followed() {
        sed -n 's/^window closed \([0-9.-]*\) % of one core, open and following \([0-9.-]*\) %: the window adds \([0-9.-]*\) % of one core$/\1 \2 \3/p' \
            "$tr/follow-$1.txt" 2>/dev/null | awk -v f="$2" '{print $f; found = 1} END {if (!found) print "nan"}'
    }
    echo
    echo "The trends window (turns of $(setting trends seconds) s, 2 rounds):"
    echo
    echo "| Figure | Measured | Target | Met |"
    echo "|---|---|---|---|"
    echo "| Opening the window on 24 hours of one packet a second (86,400 readings in the history file), from making it to every chart read, drawn and painted, median of $t_runs | **$(fmt "$(opened 24h 1)" '%.1f') ms** ($(fmt "$(opened 24h 3)" '%.1f') ms CPU); worst $(fmt "$(opened 24h 2)" '%.1f') ms | < 300 ms | $(yesno "$(awk -v v="$(opened 24h 1)" 'BEGIN {print (v != "nan" && v < 300)}')") |"
    echo "| The same on the 10-minute range | $(fmt "$(opened 10min 1)" '%.1f') ms (worst $(fmt "$(opened 10min 2)" '%.1f') ms) | | |"
    echo "| A repaint of the whole open window, 24-hour range | $(fmt "$(opened 24h 4)" '%.1f') ms (10 minutes: $(fmt "$(opened 10min 4)" '%.1f') ms) | | |"
    echo "| Following 10 packets a second, CPU the open window adds, 10-minute range | **$(fmt "$(followed 10min 3)" '%.3f') %** of one core ($(fmt "$(followed 10min 1)" '%.3f') % closed, $(fmt "$(followed 10min 2)" '%.3f') % open) | < 1 % | $(yesno "$(awk -v v="$(followed 10min 3)" 'BEGIN {print (v != "nan" && v < 1)}')") |"
    echo "| The same, 1-hour range | $(fmt "$(followed 1h 3)" '%.3f') % | | |"
    echo "| The same, 24-hour range | $(fmt "$(followed 24h 3)" '%.3f') % | | |"
fi

# ---------------------------------------------------------------- the fleet recorder
if has fleet; then
    fl=${at[fleet]}
    # A figure of a row: fleet_fig ROW FILE KEY FIELD (fields after the key, from 1).
    fleet_fig() {
        awk -v k="$3" -v f="$4" '$1 == k {print $(f + 1); found = 1} END {if (!found) print "nan"}' "$fl/$1/$2" 2>/dev/null || echo nan
    }
    echo
    echo "The fleet recorder: unit-sim into one rtrecorder on SQLite, $(setting fleet seconds) s a row:"
    echo
    echo "| Fleet | Recorded of sent | Lowest unit | Duplicates | CPU, share of one core | Resident memory (first, last, highest) | Arrival to commit, 99th percentile (median) | Stop |"
    echo "|---|---|---|---|---|---|---|---|"
    for row in $(setting fleet rows); do
        [ -d "$fl/$row" ] || continue
        sent=$(fleet_fig "$row" count.txt total 2)
        once=$(fleet_fig "$row" count.txt total 3)
        rss_first=$(awk 'NR == 1 {print $2}' "$fl/$row/rss.tsv")
        rss_last=$(awk 'END {print $2}' "$fl/$row/rss.tsv")
        rss_top=$(cut -f2 "$fl/$row/rss.tsv" | maximum)
        echo "| ${row%x*} units at ${row#*x} packets/s | $(group "$once") of $(group "$sent") ($(awk -v a="$once" -v b="$sent" 'BEGIN {printf "%.3f", (b > 0 ? 100 * a / b : 0)}') %) | $(fmt "$(fleet_fig "$row" count.txt total 5)" '%.3f') % | $(fleet_fig "$row" count.txt total 4) | **$(fmt "$(fleet_fig "$row" cpu.txt cpu 1)" '%.1f') %** | $(fmt "$((rss_first / 1024))" '%d'), $(fmt "$((rss_last / 1024))" '%d'), $(fmt "$((rss_top / 1024))" '%d') MB | **$(fleet_fig "$row" latency.txt sent 2) ms** from sending ($(fleet_fig "$row" latency.txt sent 1) ms); $(fleet_fig "$row" latency.txt accepted 2) ms from acceptance | $(fleet_fig "$row" cpu.txt stop_ms 1) ms |"
    done
fi

# ---------------------------------------------------------------- the soak
soak_status=0
if has soak; then
    echo
    "$bench_root/bench/soak.sh" --analyse "${at[soak]}" || soak_status=$?
fi

echo
echo "Raw output: $dir"
exit "$soak_status"
