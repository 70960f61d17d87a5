#!/usr/bin/env bash
# The probe in the units of the channel file: record's header and values,
# a bad file refused before loading, a two-point calibration typed in a
# pseudo-terminal. Usage: channels_test.sh PROBE SIM RUNNER
set -u
probe=$1 sim=$2 runner=$3
scratch=$(mktemp -d)
source "$(dirname "$0")/helpers.sh"
here=$(dirname "$0")

# One simulated board each, reached through a link the channel file names.
boards=()
board() { # board NAME SIM-ARGS...
  "${runner[@]}" "$sim" --link "$scratch/$1" --seconds 40 "${@:2}" >"$scratch/$1.log" 2>&1 &
  boards+=($!)
}
trap 'kill "${boards[@]}" 2>/dev/null; rm -rf "$scratch"' EXIT
runner=(${runner:+"$runner"})
board bath --input 0=64
board moving --input 3=100 --step 3=300@4
board still --input 3=100
wait_for test -e "$scratch/bath" -a -e "$scratch/moving" -a -e "$scratch/still"

cat >"$scratch/channels.toml" <<TOML
[[board]]
device = "$scratch/bath"

[board.input.0]
name = "bath temperature"
unit = "°C"
decimals = 1
gain = 100.0
TOML
printf '# kept\n[[board]]\ndevice = "%s"\n\n[board.input.3]  # the sensor\nname = "light"\ngain = 9.0\n' \
  "$scratch/moving" >"$scratch/moving.toml"
cp "$scratch/moving.toml" "$scratch/still.toml"
cp "$scratch/moving.toml" "$scratch/original.toml"
printf '[[board]]\ndevice = "%s"\n[board.input.0]\ngian = 100.0\n' "$scratch/bath" >"$scratch/bad.toml"

record_bath() {
  VOSTRELLE_DEVICE=$scratch/bath VOSTRELLE_CHANNELS=$scratch/channels.toml \
    "${runner[@]}" "$probe" record --channels 0,1 --count 2 --interval 50 2>/dev/null
}
start_reading rows '^0.000000,31.3,0.000000$' record_bath
VOSTRELLE_DEVICE=$scratch/moving python3 "$here/calibrate_pty.py" 10 30 "$scratch/moving.log" "input 3 set to" \
  "${runner[@]}" "$probe" calibrate 3 --channels-file "$scratch/moving.toml" >"$scratch/calibrated" 2>&1 &
calibrator=$!
VOSTRELLE_DEVICE=$scratch/still python3 "$here/calibrate_pty.py" 10 30 "$scratch/still.log" "healthy" \
  "${runner[@]}" "$probe" calibrate 3 --channels-file "$scratch/still.toml" >"$scratch/equal" 2>&1
echo $? >"$scratch/equal.status"
VOSTRELLE_CHANNELS=$scratch/bad.toml "${runner[@]}" "$probe" --simulate read >"$scratch/bad" 2>&1
check "a bad channel file stops the probe with its line and what to use" \
  has bad "^vostrelle-probe: $scratch/bad.toml:4: unknown key 'gian' in \[board.input.0\] (use name, unit"
finish_started
wait $calibrator
calibrated=$?

check "record's header gives the unit of the channels the file names only" \
  test "$(head -1 "$scratch/rows")" = "seconds,bath temperature (°C),EA1(PA1)0..5V"
check "and their values with the file's decimals" has rows '^0.000000,31.3,0.000000$'
check "calibrate exits 0" test "$calibrated" -eq 0
check "and puts the two points in place of the input's scale" test "$(sed -n '/^\[board.input.3\]  # the sensor$/{n;p}' \
  "$scratch/moving.toml")" = "calibration = [[0.4888, 10], [1.4663, 30]]"
check "keeping the rest of the file" test "$(grep -c -e '^# kept$' -e '^name = "light"$' -e gain "$scratch/moving.toml")" -eq 2
check "equal volts are refused" has equal "a calibration needs two different volts"
check "with status 1 and nothing written" test "$(cat "$scratch/equal.status")" -eq 1 -a \
  "$(cat "$scratch/still.toml")" = "$(cat "$scratch/original.toml")"
summary
