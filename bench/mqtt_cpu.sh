#!/usr/bin/env bash
# vostrelle-mqtt's own CPU, beyond the conversions: the bridge at 10 readings
# a second of all 8 inputs and vostrelle-panel (the same acquisition loop,
# 25 scans a second, no client) each on a simulated board of its own, side by
# side over the same window; the difference is the publishing and the
# broker's traffic. Needs mosquitto.
# Usage: bench/mqtt_cpu.sh [BUILD-DIR] [SECONDS] (default build/amd64, 30)
set -euo pipefail
build=${1:-build/amd64}
seconds=${2:-30}
source "$(dirname "$0")/broker.sh"
for name in bridge panel; do
    "$build/tools/vostrelle-sim" --link "$scratch/$name.board" --wave >/dev/null 2>&1 &
    pids+=($!)
done
sleep 0.5
mosquitto_sub -p "$port" -t 'vostrelle/#' >/dev/null &
pids+=($!)
"$build/tools/mqtt/vostrelle-mqtt" --device "$scratch/bridge.board" --broker "mqtt://127.0.0.1:$port" \
    --rate 10 --discovery off 2>/dev/null &
bridge=$!
pids+=("$bridge")
VOSTRELLE_DEVICE=$scratch/panel.board "$build/tools/panel/vostrelle-panel" --port 0 >/dev/null 2>&1 &
panel=$!
pids+=("$panel")
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; } # user + system, in 1/CLK_TCK s
sleep 4 # both drivers loaded
before=($(ticks $bridge) $(ticks $panel))
sleep "$seconds"
after=($(ticks $bridge) $(ticks $panel))
python3 - "$((after[0] - before[0]))" "$((after[1] - before[1]))" "$seconds" "$(getconf CLK_TCK)" <<'PY'
import sys
bridge, panel, seconds, tck = (int(a) for a in sys.argv[1:])
share = lambda t: 100 * t / tck / seconds
print(f"over {seconds} s: bridge {share(bridge):.2f} % of a core, panel {share(panel):.2f} %, "
      f"the bridge beyond the conversions {share(bridge - panel):.2f} %")
PY
