# Sourced by the MQTT benchmarks: a scratch directory, the programs put in
# $pids ended at exit, and an anonymous mosquitto on 127.0.0.1 at a free $port.
scratch=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$scratch"' EXIT
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\n' "$port" >"$scratch/conf"
mosquitto -c "$scratch/conf" >/dev/null 2>&1 &
pids+=($!)
