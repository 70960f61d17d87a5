#!/usr/bin/env bash
# vostrelle-probe record as a user sees it: rows on a fixed schedule, missed
# slots counted, a stop that keeps every row, the refusal of an impossible
# interval, the plot. Usage: record_test.sh PROBE RUNNER
set -u
probe=$1 runner=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
source "$(dirname "$0")/helpers.sh"

start too-fast "$probe" --simulate record --interval 5
start both-rates "$probe" --simulate record --interval 100 --rate 10
start same-channel "$probe" --simulate record --channels 1,1
start unwritable "$probe" --simulate record --count 1 --output /nonexistent/rows.csv
finish_started
check "an interval shorter than a scan is refused with the shortest one" has too-fast \
  "8 inputs in volts takes about 17.6 ms .*the shortest interval is 17.6 ms, a rate of at most 56.8 Hz"
check "and exits 2" test "$(status_of too-fast)" -eq 2
check "--interval and --rate together are refused" test "$(status_of both-rates)" -eq 2
check "a channel named twice is refused" test "$(status_of same-channel)" -eq 2
check "an output that cannot be written fails before loading" has unwritable "cannot write /nonexistent/rows.csv"

# Each row starts on its slot of the schedule: a logger that paused between
# rows would drift through the slot by the scan's length every row.
start schedule "$probe" --simulate record --channels 0,3 --counts --interval 40 --count 25 \
  --output "$scratch/rows.csv" --plot "$scratch/rows.png"
finish_started
check "record exits 0" test "$(status_of schedule)" -eq 0
check "the header names the channels" test "$(head -1 "$scratch/rows.csv")" = "seconds,EA0(PA0)0..1023,EA3(PA3)0..1023"
rows=$(($(wc -l <"$scratch/rows.csv") - 1))
check "every scheduled scan is a row or a counted missed slot" \
  has schedule "^record: $rows scans, $((25 - rows)) slots missed"
check "rows start within a quarter slot of the schedule (no drift)" awk -F, -v interval=0.040 '
  NR > 1 { slots = $1 / interval; off = slots - int(slots + 0.5); late += off > 0.25 || off < -0.25; rows++ }
  END { exit !(rows > 0 && late <= rows / 10) }' "$scratch/rows.csv"
check "every row has a time and two counts" awk -F, 'NR > 1 && !(NF == 3 && $2 ~ /^[0-9]+$/) { exit 1 }' \
  "$scratch/rows.csv"
check "the summary gives the start-time error" has schedule "start-time error against the schedule: p50 .* ms, p99 .* ms, max"
check "and the plot is a PNG" test "$(head -c 4 "$scratch/rows.png" | tail -c 3)" = PNG

# SIGTERM ends an open-ended recording with every row written whole, and
# without gnuplot the recording still succeeds.
PATH=/nonexistent "$runner" "$probe" --simulate record --channels 2 --interval 20 \
  --output "$scratch/stopped.csv" --plot "$scratch/stopped.png" 2>"$scratch/stopped" &
recorder=$!
wait_for sh -c "[ \$(wc -l <'$scratch/stopped.csv') -gt 5 ]"
kill -TERM $recorder
wait $recorder
check "SIGTERM ends record with status 0" test $? -eq 0
check "and says so" has stopped "stopped by SIGTERM"
rows=$(($(wc -l <"$scratch/stopped.csv") - 1))
check "every row taken is in the file" has stopped "^record: $rows scans"
check "and the file ends with a whole row" test "$(tail -c 1 "$scratch/stopped.csv" | od -An -c | tr -d ' ')" = '\n'
check "without gnuplot there is a note, no plot" has stopped "no plot: gnuplot is not installed"

summary
