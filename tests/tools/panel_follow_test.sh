#!/usr/bin/env bash
# vostrelle-panel when its board goes and comes back: three panels side by
# side, two on boards that are unplugged (the simulator stops) and plugged in
# again with other inputs (a new simulator at the same link), one on a silent
# board. While a board is gone or silent the panel costs next to no CPU and
# says so; once it is back the readings are the new board's, and the outputs
# are set again only with --restore-outputs (the new simulator's trace shows
# what reached it).
# Usage: panel_follow_test.sh PANEL SIM RUNNER
set -u
panel=$1 sim=$2 runner=$3
scratch=$(mktemp -d)
source "$(dirname "$0")/helpers.sh"
end_at_exit

plug() { # plug NAME SIM-ARGS...: a simulated board at $scratch/NAME.board, traced into $scratch/NAME.sim
    local name=$1
    shift
    "$runner" "$sim" --link "$scratch/$name.board" --trace "$@" >"$scratch/$name.sim" 2>&1 &
    pids+=($!)
}
start_panel() { # start_panel NAME ARGS...: a panel on $scratch/NAME.board
    local name=$1
    shift
    VOSTRELLE_DEVICE=$scratch/$name.board "$runner" "$panel" --port 0 "$@" >"$scratch/$name" 2>&1 &
    pids+=($!)
    eval "${name}_pid=$!"
}
enter() { # enter NAME: the panel's base URL in $scratch/NAME.base, its cookie in $scratch/NAME.jar
    local url
    url=$(grep -o 'http://[^ ]*token=[0-9a-f]*' "$scratch/$1")
    curl -s -c "$scratch/$1.jar" "$url" >/dev/null
    echo "${url%%/\?*}" >"$scratch/$1.base"
}
# The first event of the live stream (names, outputs, status, the last second's scans), as one line;
# the stream is left as soon as it came.
hello() {
    local out=$scratch/$1.stream
    : >"$out"
    curl -s -N --max-time 3 -b "$scratch/$1.jar" "$(cat "$scratch/$1.base")/events/1" >>"$out" &
    local stream=$!
    for _ in $(seq 60); do
        awk '/^data: /{ d = 1 } d && /^$/{ whole = 1 } END { exit !whole }' "$out" && break
        sleep 0.05
    done
    kill $stream 2>/dev/null
    wait $stream 2>/dev/null
    sed -n 's/^data: //p' "$out" | head -1
}
board_is() { hello "$1" | grep -q "\"board\":\"$2\""; }
post() { # post NAME PATH BODY, from the panel's own page
    local base
    base=$(cat "$scratch/$1.base")
    curl -s -o /dev/null -b "$scratch/$1.jar" -H "Origin: $base" --data-binary "$3" "$base$2"
}
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; } # user + system time, in 1/100 s
# Input 3 of the last scan in a hello.
input3() {
    python3 -c 'import json, sys; print("%.4f" % json.load(sys.stdin)["scans"]["v"][3][-1])' 2>/dev/null
}
reads() { [ "$(hello "$1" | input3)" = "$2" ]; } # reads NAME VOLTS: input 3 of the last scan

plug kept --input 3=512 --seconds 5.5
plug restored --input 3=512 --seconds 5.5
plug silent --mode silent
for name in kept restored silent; do wait_for test -e "$scratch/$name.board"; done
start_panel kept
start_panel restored --restore-outputs
start_panel silent
for name in kept restored silent; do
    wait_for grep -q token= "$scratch/$name" || wait_for grep -q token= "$scratch/$name"
    enter $name
done
for name in kept restored; do
    post $name /pwm 200
    post $name /line/3 1
done
check "before the unplug the panel reads the board" wait_for reads kept 2.5024

# Unplugged (the simulators stop): six seconds of a panel waiting and one on a silent board.
wait_for bash -c "! test -e '$scratch/kept.board'"
declare -A before
for name in kept silent; do before[$name]=$(ticks "$(eval echo \$${name}_pid)"); done
sleep 6
for name in kept silent; do
    used=$(($(ticks "$(eval echo \$${name}_pid)") - ${before[$name]}))
    check "$name board: the panel uses under 2 % of a core ($used/600 s)" test "$used" -lt 12
done
hello kept >"$scratch/gone"
check "the status says the board is gone, and since when" has gone '"board":"gone","since":"[0-9:]\{8\}"'
check "the status of a silent board says so" board_is silent silent

# Plugged in again, with other inputs.
plug kept --input 3=1023
plug restored --input 3=1023
check "back within seconds, reading the new board" wait_for reads kept 5.0000
wait_for reads restored 5.0000
hello kept >"$scratch/back"
hello restored >"$scratch/restored-back"
check "the gap is counted in missed slots" has back '"missed":[0-9]\{3,\}'
check "without --restore-outputs the outputs are shown as the reset board has them" \
    has back '"outputs":{"pwm":0,"frequency":0,"lines":\[0,0,0,0,0,0,0,0\]}'
check "  and none was set again" bash -c "! grep -qE 'PWM duty|PB3 high' '$scratch/kept.sim'"
check "with --restore-outputs the last values set are set again" bash -c \
    "grep -q 'PWM duty 200' '$scratch/restored.sim' && grep -q 'PB3 high' '$scratch/restored.sim'"
check "  and shown" has restored-back '"outputs":{"pwm":200,"frequency":0,"lines":\[0,0,0,1,'
summary
