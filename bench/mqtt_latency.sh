#!/usr/bin/env bash
# vostrelle-mqtt's delay from an input step on the simulated board
# (vostrelle-sim --step, which prints when it set it) to the first MQTT
# message carrying the new value, at 10 readings a second; and the bridge's
# CPU meanwhile. Needs mosquitto and mosquitto-clients.
# Usage: bench/mqtt_latency.sh [BUILD-DIR] (default build/amd64)
set -euo pipefail
build=${1:-build/amd64}
steps=${STEPS:-40}
source "$(dirname "$0")/broker.sh"
# Input 3 between 0 and 1023 every 0.37 s (not a multiple of the publish interval), from 4 s on.
step_args=()
for k in $(seq 0 $((steps - 1))); do
    step_args+=(--step "3=$(((k % 2) * 1023))@$(python3 -c "print(4 + $k * 0.37)")")
done
"$build/tools/vostrelle-sim" --link "$scratch/board" "${step_args[@]}" >"$scratch/sim" 2>&1 &
pids+=($!)
sleep 0.5
mosquitto_sub -p "$port" -t 'vostrelle/board/input/3' -F '%U %p' >"$scratch/messages" &
pids+=($!)
"$build/tools/mqtt/vostrelle-mqtt" --device "$scratch/board" --broker "mqtt://127.0.0.1:$port" --rate 10 \
    --discovery off 2>/dev/null &
bridge=$!
pids+=($bridge)
sleep 3
start=$(awk '{ print $14 + $15 }' "/proc/$bridge/stat")
sleep "$(python3 -c "print(1 + $steps * 0.37)")"
used=$(awk '{ print $14 + $15 }' "/proc/$bridge/stat")
python3 - "$scratch/sim" "$scratch/messages" "$((used - start))" "$steps" <<'PY'
import re, statistics, sys
steps = [(float(t) / 1000, int(v)) for v, t in re.findall(r"input 3 set to (\d+) at ([\d.]+) ms", open(sys.argv[1]).read())]
messages = [(float(t), float(v)) for t, v in (line.split() for line in open(sys.argv[2]))]
delays = []
for at, value in steps[1:]:
    high = value > 511
    after = [t for t, v in messages if t >= at and (v > 2.5) == high]
    if after:
        delays.append((after[0] - at) * 1000)
delays.sort()
p99 = delays[min(len(delays) - 1, int(len(delays) * 0.99))]
seconds = 1 + int(sys.argv[4]) * 0.37
print(f"{len(delays)} steps: median {statistics.median(delays):.0f} ms, p99 {p99:.0f} ms, max {delays[-1]:.0f} ms; "
      f"bridge CPU {int(sys.argv[3]) / seconds:.1f} % of a core (scans at 25 Hz included)")
PY
