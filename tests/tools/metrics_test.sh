#!/usr/bin/env bash
# vostrelle-panel's /metrics scraped by a real Prometheus (Debian's) on
# 127.0.0.1, every second, with two simulated boards: a query through its
# HTTP API returns the inputs' values in their units; a second job that shows
# no token sees its target down, refused with 401.
# Usage: metrics_test.sh PANEL SIM RUNNER
set -u
panel=$1 sim=$2 runner=$3
scratch=$(mktemp -d)
source "$(dirname "$0")/helpers.sh"
end_at_exit

metrics_port=$(free_port) prometheus_port=$(free_port)
echo "scrape-token-2" >"$scratch/token"
target="targets: [127.0.0.1:$metrics_port]"
cat >"$scratch/prometheus.yml" <<YAML
global: {scrape_interval: 1s, scrape_timeout: 1s}
scrape_configs:
  - {job_name: boards, authorization: {credentials_file: $scratch/token}, static_configs: [{$target}]}
  - {job_name: no_token, static_configs: [{$target}]}
YAML
# Prometheus starts while the panel loads its two drivers.
prometheus --config.file="$scratch/prometheus.yml" --storage.tsdb.path="$scratch/data" \
    --web.listen-address="127.0.0.1:$prometheus_port" >"$scratch/prometheus" 2>&1 &
pids+=($!)
cat >"$scratch/channels.toml" <<TOML
[[board]]
device = "$scratch/b"
[board.input.2]
unit = "°C"
gain = 100.0
TOML
"$runner" "$sim" --link "$scratch/a" --input 5=256 >/dev/null 2>&1 &
pids+=($!)
"$runner" "$sim" --link "$scratch/b" --input 2=512 >/dev/null 2>&1 &
pids+=($!)
wait_for test -L "$scratch/a" -a -L "$scratch/b"
"$runner" "$panel" --port 0 --device "$scratch/a" --device "$scratch/b" \
    --channels-file "$scratch/channels.toml" --metrics "127.0.0.1:$metrics_port" \
    --metrics-token-file "$scratch/token" >"$scratch/out" 2>&1 &
pids+=($!)

# Each item of the API's answer at PATH (its data's LIST) as a line of
# FIELDS (Python, of x) in $scratch/NAME.
api_lines() { # api_lines PATH NAME LIST FIELDS
    curl -s "http://127.0.0.1:$prometheus_port/api/v1/$1" | python3 -c "import json, sys
for x in json.load(sys.stdin)['data']['$3']: print($4)" >"$scratch/$2" 2>/dev/null
}
samples() { # board input unit value
    api_lines "query?query=vostrelle_input_value" samples result \
        '*map(x["metric"].get, ("board", "input", "unit")), x["value"][1]' &&
        [ "$(wc -l <"$scratch/samples")" -eq 16 ]
}
wait_for samples
check "board a's input 5 in volts" has samples '^a 5 V 1\.2[0-9]*$'
check "board b's input 2 in its channel's unit" has samples '^b 2 °C 250\(\.[0-9]*\)\?$'
health() { # job health error
    api_lines targets health activeTargets 'x["labels"]["job"], x["health"], x["lastError"]' &&
        grep -q '^no_token down' "$scratch/health"
}
wait_for health
check "the job with the token is up" has health '^boards up $'
check "the one without it is down, refused" has health '^no_token down .*401'
summary
