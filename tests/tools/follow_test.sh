#!/usr/bin/env bash
# vostrelle-probe record when the board goes: unplugged and plugged back (a
# new simulated board at the same link), unplugged for good, and silent at
# its path. Side by side, so that the waits overlap: the recording goes on
# with the new board's readings and the gap counted; the others end on time
# and spend under 2 % of a core while there is no board to read.
# Usage: follow_test.sh PROBE SIM RUNNER
set -u
probe=$1 sim=$2 runner=$3
scratch=$(mktemp -d)
sims=()
trap 'kill "${sims[@]}" 2>/dev/null; wait 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$scratch"' EXIT
source "$(dirname "$0")/helpers.sh"

board() { # board LINK ARGS...: a simulated board reachable at LINK
  "$runner" "$sim" --link "$scratch/dev-$1" "${@:2}" >>"$scratch/sim-$1" 2>&1 &
  sims+=($!)
}
record() { # record NAME SECONDS: a recording of input 0 in counts from the board at NAME
  VOSTRELLE_DEVICE=$scratch/dev-$1 "$runner" "$probe" record --channels 0 --counts --interval 50 --duration "$2" \
    --output "$scratch/$1.csv" 2>"$scratch/$1" &
}
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

board replugged --input 0=100 --seconds 4
board unplugged --seconds 3
board silent --mode silent
wait_for test -L "$scratch/dev-replugged" -a -L "$scratch/dev-unplugged" -a -L "$scratch/dev-silent"
began=$(date +%s.%N)
record replugged 11
replugged=$!
record unplugged 9
unplugged=$!
record silent 9
silent=$!

# From 4.5 s to 8.5 s neither the unplugged nor the silent board's recording
# has a board to read; the replugged one comes back at 6 s.
sleep 4.5
before=($(cpu_ticks $unplugged) $(cpu_ticks $silent))
sleep 1.5
board replugged --input 0=700 --seconds 20
sleep 2.5
after=($(cpu_ticks $unplugged) $(cpu_ticks $silent))
wait $unplugged
unplugged_status=$?
ended=$(date +%s.%N)
wait $silent $replugged

limit=$(($(getconf CLK_TCK) * 4 * 2 / 100)) # 2 % of 4 s
check "with the board gone, record spends under 2 % of a core" test $((after[0] - before[0])) -lt "$limit"
check "with the board silent, too" test $((after[1] - before[1])) -lt "$limit"
check "record says the board is gone, with the device" has unplugged "^record: board gone at [0-9:]* ($scratch/dev-unplugged)"
check "and ends with its summary" test "$unplugged_status" -eq 0
check "on time (9 s and the driver's load)" awk -v s="$began" -v e="$ended" 'BEGIN { exit !(e - s >= 9 && e - s < 14) }'
check "the summary gives the gap, open at the end" has unplugged "^  board gone from [0-9:]* to the end"
check "record says the board is silent" has silent "^record: board silent since [0-9:]* ($scratch/dev-silent)"
check "and writes no rows of stale values" test "$(wc -l <"$scratch/silent.csv")" -eq 1

check "the replugged board is loaded again" has replugged "^record: board answers at [0-9:]* .*: the driver is loaded again"
# A reply that comes after the driver's deadline on a busy machine reads
# wrong now and then; a driver that kept the old board's values reads 100.
check "readings before the gap are the first board's, after it the new one's" awk -F, '
  NR == 2 { first = $2 } NR > 1 { odd += $2 != 100 && $2 != 700; back += seen && $2 == 100; seen += $2 == 700 }
  END { exit !(first == 100 && $2 == 700 && seen > 20 && !back && odd <= 2) }' "$scratch/replugged.csv"
rows=$(($(wc -l <"$scratch/replugged.csv") - 1))
check "every slot is a row or a counted missed one" has replugged "^record: $rows scans, $((220 - rows)) slots missed"
check "the gap is in the summary with its start and end" \
  has replugged "^  board gone from [0-9:]* to [0-9:]* (seconds [0-9.]* to [0-9.]*)"
check "one gap, one reload" has replugged "^record: 1 gap without readings; the driver was loaded again 1 time$"

summary
