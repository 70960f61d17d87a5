#!/usr/bin/env bash
# vostrelle-mqtt against a real mosquitto on 127.0.0.1 (a free port, a
# password file; TLS on a second port with a certificate made here) with two
# simulated boards, and a third over TLS: readings in their units, the
# outputs' state and the discovery configs on their topics, a command that
# reaches its board (the simulator's trace) and one refused on …/error that
# reaches none, /metrics with and without its token, a board unplugged and
# plugged back, everything published again once the broker is back, and the
# last will once the bridge is killed.
# The service unit passes systemd-analyze verify.
# Usage: mqtt_test.sh MQTT SIM RUNNER
set -u
bridge=$1 sim=$2 runner=$3
scratch=$(mktemp -d)
source "$(dirname "$0")/helpers.sh"
end_at_exit

port=$(free_port)
mosquitto_passwd -c -b "$scratch/passwords" bridge "s3cret pass" 2>/dev/null
printf 's3cret pass\n' >"$scratch/password"
tls_port=$(free_port)
# A certificate authority and the broker's certificate, made for this run.
make_certificates() {
    local key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
    cd "$scratch" &&
        openssl req -x509 "${key[@]}" -keyout ca.key -out ca.pem -days 1 -subj "/CN=test CA" &&
        openssl req "${key[@]}" -keyout broker.key -out broker.csr -subj "/CN=127.0.0.1" &&
        openssl x509 -req -in broker.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out broker.pem -days 1 \
            -extfile <(echo "subjectAltName=IP:127.0.0.1")
} >/dev/null 2>&1
(make_certificates)
cat >"$scratch/mosquitto.conf" <<CONF
per_listener_settings false
allow_anonymous false
password_file $scratch/passwords
persistence false
user root
listener $port 127.0.0.1
listener $tls_port 127.0.0.1
cafile $scratch/ca.pem
certfile $scratch/broker.pem
keyfile $scratch/broker.key
CONF
start_broker() {
    mosquitto -c "$scratch/mosquitto.conf" >"$scratch/broker" 2>&1 &
    broker_pid=$!
    pids+=($!)
}
start_broker
cat >"$scratch/channels.toml" <<TOML
[[board]]
device = "$scratch/b"
[board.input.2]
name = "bath"
unit = "°C"
decimals = 1
gain = 100.0
TOML
plug() { # plug NAME: a simulated board at $scratch/NAME, traced into $scratch/sim-NAME
    "$runner" "$sim" --link "$scratch/$1" --trace --input 2=512 >>"$scratch/sim-$1" 2>&1 &
    pids+=($!)
    eval "sim_$1=$!"
}
plug a
plug b
metrics_port=$(free_port)
echo "scrape-token-1" >"$scratch/token"
auth=(-h 127.0.0.1 -p "$port" -u bridge -P "s3cret pass")
wait_for test -L "$scratch/a" -a -L "$scratch/b"
mosquitto_sub "${auth[@]}" -v -t 'vostrelle/#' -t 'homeassistant/#' -t 'tls/+/status' \
    >"$scratch/topics" 2>&1 &
pids+=($!)
"$runner" "$bridge" --device "$scratch/a" --device "$scratch/b" --broker "mqtt://127.0.0.1:$port" \
    --username bridge --password-file "$scratch/password" --rate 10 --channels-file "$scratch/channels.toml" \
    --metrics "127.0.0.1:$metrics_port" --metrics-token-file "$scratch/token" >"$scratch/out" 2>&1 &
bridge_pid=$!
pids+=($!)
# A simulated board over TLS, under a prefix of its own.
"$runner" "$bridge" --simulate --broker "mqtts://127.0.0.1:$tls_port" --cafile "$scratch/ca.pem" \
    --prefix tls --username bridge --password-file "$scratch/password" --discovery off \
    >"$scratch/out-tls" 2>&1 &
pids+=($!)

online() { [ "$(grep -cE '^vostrelle/[ab]/status online' "$scratch/topics")" -ge 2 ]; }
wait_for online || wait_for online
check "both boards online" online
online || { echo "  the bridge said:"; sed 's/^/    /' "$scratch/out" | head -20; }
check "and the one over TLS" has topics '^tls/[^/]*/status online$'
readings() { [ "$(grep -oE '^vostrelle/[ab]/input/7 ' "$scratch/topics" | sort -u | wc -l)" -eq 2 ]; }
wait_for readings
check "board a's input 2 in volts" has topics '^vostrelle/a/input/2 2\.50[0-9]$'
check "board b's input 2 in its channel's unit" has topics '^vostrelle/b/input/2 250\.[0-9]$'
check "the outputs' state" has topics '^vostrelle/b/pwm 0$'
check "the LED's state" has topics '^vostrelle/a/led 0$'

scrape() { curl -s -o "$scratch/metrics" -w '%{http_code}' "$@" "http://127.0.0.1:$metrics_port/metrics"; }
check "/metrics without the token: 401" test "$(scrape)" = 401
check "/metrics with it: 200" test "$(scrape -H 'Authorization: Bearer scrape-token-1')" = 200
check "  with each input in its unit" has metrics \
    '^vostrelle_input_value{board="b",input="2",unit="°C"} 250\.'
check "  and the board answering" has metrics '^vostrelle_board_answering{board="a"} 1$'

# Every config is JSON with what Home Assistant needs for its kind of entity.
configs() {
    python3 - "$scratch/topics" <<'PY'
import json, sys
needed = {"sensor": ["state_topic", "unit_of_measurement"], "switch": ["command_topic", "state_topic"],
          "number": ["command_topic", "state_topic", "min", "max"]}
seen = {}
for line in open(sys.argv[1], encoding="utf-8"):
    topic, _, payload = line.rstrip("\n").partition(" ")
    if topic.startswith("homeassistant/"):
        kind, config = topic.split("/")[1], json.loads(payload)
        assert all(k in config for k in needed[kind] + ["unique_id", "device", "availability_topic"]), topic
        seen[config["unique_id"]] = config
assert len(seen) == 38, len(seen)
assert seen["vostrelle_b_input2"]["unit_of_measurement"] == "°C"
assert seen["vostrelle_b_input2"]["name"] == "bath"
PY
}
check "the discovery configs" configs

mosquitto_pub "${auth[@]}" -t vostrelle/b/led/set -m 1
mosquitto_pub "${auth[@]}" -t vostrelle/a/pwm/set -m 999
led_on() { grep -q "PB0 high" "$scratch/sim-b"; }
refused() { grep -q "^vostrelle/a/error vostrelle/a/pwm/set: the PWM duty" "$scratch/topics"; }
wait_for led_on
check "the LED command reached board b" led_on
wait_for refused
check "a bad duty answered on the error topic" refused
check "  and it reached no board" lacks sim-a "PWM duty"
wait_for grep -q "^vostrelle/b/led 1$" "$scratch/topics"
check "the LED's new state" has topics "^vostrelle/b/led 1$"

# The service as packaged, run from the build, where systemd-analyze exists.
unit_verified() {
    local units=$scratch/units
    mkdir -p "$units"
    sed -e "s|/usr/bin/vostrelle-mqtt|$(realpath "$bridge")|" \
        -e "s|/etc/default/vostrelle-mqtt|$packaging/default/vostrelle-mqtt|" \
        "$packaging/systemd/vostrelle-mqtt@.service" >"$units/vostrelle-mqtt@.service"
    systemd-analyze verify --man=no "$units/vostrelle-mqtt@.service" >"$scratch/verify" 2>&1 &&
        ! [ -s "$scratch/verify" ]
}
packaging=$(cd "$(dirname "$0")/../../packaging" && pwd)
! command -v systemd-analyze >/dev/null || check "the unit passes systemd-analyze verify" unit_verified

# Board b is unplugged, then plugged back while the broker is away: its
# driver's load overlaps the broker's absence.
kill $sim_b
wait $sim_b 2>/dev/null
check "board b unplugged: its status says so" wait_for grep -q '^vostrelle/b/status board gone$' "$scratch/topics"

# The broker goes away for a second and a half (retained messages and all):
# the bridge connects again after its backoff and publishes everything again.
kill $broker_pid
wait $broker_pid 2>/dev/null
plug b
sleep 1.5
start_broker
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
wait_for port_open
mosquitto_sub "${auth[@]}" -v -t 'vostrelle/+/status' -t 'vostrelle/+/dropped' -t 'homeassistant/switch/#' \
    >"$scratch/again" 2>&1 &
pids+=($!)
# Each board's client connects again after a backoff of its own: both are waited for.
republished() {
    grep -q "^vostrelle/a/status online" "$scratch/again" && grep -q "^vostrelle/a/dropped" "$scratch/again" &&
        [ "$(count_of again '^homeassistant/switch/')" -ge 18 ]
}
wait_for republished
check "after the broker's restart: online again" republished
check "  with the readings dropped meanwhile counted" has again "^vostrelle/a/dropped [1-9][0-9]*$"
check "  and discovery published again" test "$(count_of again '^homeassistant/switch/')" -eq 18
check "board b plugged back: online again" wait_for grep -q '^vostrelle/b/status online$' "$scratch/again"

kill -KILL $bridge_pid
offline() { grep -q "^vostrelle/a/status offline" "$scratch/again"; }
wait_for offline
check "killed: the last will says offline" offline
summary
