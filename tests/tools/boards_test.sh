#!/usr/bin/env bash
# vostrelle-probe record with several boards in one process, two recordings
# side by side so that the waits overlap: two boards with different fixed
# inputs give one file in which no reading comes from the other board; one
# board unplugged and plugged back while the other keeps every slot.
# Usage: boards_test.sh PROBE SIM RUNNER
set -u
probe=$1 sim=$2 runner=$3
scratch=$(mktemp -d)
sims=()
trap 'kill "${sims[@]}" 2>/dev/null; wait 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$scratch"' EXIT
source "$(dirname "$0")/helpers.sh"

board() { # board NAME ARGS...: a simulated board reachable at $scratch/NAME
  "$runner" "$sim" --link "$scratch/$1" "${@:2}" >>"$scratch/sim-$1" 2>&1 &
  sims+=($!)
}
record() { # record NAME ARGS...: a recording of inputs 0 and 1 in counts
  "$runner" "$probe" record --channels 0,1 --counts --output "$scratch/$1.csv" "${@:2}" 2>"$scratch/$1" &
}

board a --input 0=100 --input 1=200
board b --input 0=700 --input 1=800
board gone --input 0=300 --input 1=300 --seconds 8
board kept --input 0=500 --input 1=500
wait_for test -L "$scratch/a" -a -L "$scratch/b" -a -L "$scratch/gone" -a -L "$scratch/kept"
record apart --device "$scratch/a" --device "$scratch/b" --interval 10 --count 1000
apart=$!
record follow --device "$scratch/gone" --device "$scratch/kept" --interval 50 --duration 10
follow=$!
# The two loads take four seconds and more; the board goes at 8 s, comes
# back at 9.5 s and is loaded again before the end at 14 s or later.
sleep 9.5
board gone --input 0=900 --input 1=900
wait $apart
apart_status=$?
wait $follow

check "two boards record into one file" test "$apart_status" -eq 0
check "whose header names each board and input" test "$(head -1 "$scratch/apart.csv")" = \
  "seconds,a:EA0(PA0)0..1023,a:EA1(PA1)0..1023,b:EA0(PA0)0..1023,b:EA1(PA1)0..1023"
# A reply after the driver's deadline on a busy machine reads wrong now and
# then, but never as the other board's value.
check "no reading comes from the other board" awk -F, '
  function odd(value, expected) { return value != expected && value != "" }
  NR > 1 { rows++; cross += $2 == 700 || $3 == 800 || $4 == 100 || $5 == 200
           wrong += odd($2, 100) + odd($3, 200) + odd($4, 700) + odd($5, 800) }
  END { exit !(rows > 900 && cross == 0 && wrong <= rows / 100) }' "$scratch/apart.csv"
rows=$(($(wc -l <"$scratch/apart.csv") - 1))
check "each board's scans and missed slots are counted" \
  test "$(grep -cE '^record: [ab]: [0-9]+ scans, [0-9]+ slots missed' "$scratch/apart")" -eq 2

# The other board's two seconds of loading cost this one no slot; under the
# emulator on a busy machine a reply now and then comes after the driver's
# deadline, and that scan is not kept.
check "the board that stays keeps its slots" has follow \
  "^record: kept: \(200 scans, 0\|199 scans, 1\|198 scans, 2\) slots missed"
check "the other one's gap is its own" \
  has follow "^record: gone: 1 gap without readings; the driver was loaded again 1 time$"
check "and it reads the new board after it" awk -F, '
  NR == 2 { first = $2 } END { exit !(first == 300 && $2 == 900 && $4 == 500) }' "$scratch/follow.csv"

summary
