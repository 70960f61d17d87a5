#!/usr/bin/env bash
# vostrelle-panel against hostile clients on loopback: an endless chunked
# body, 80 connections that take its slots without the cookie, cookies that
# other pages set, headers named twice, HEAD and HTTP/1.0, and the warning on
# an address others reach. The rules' every case is in tests/tools/panel/
# (panel_rules_test).
# Usage: panel_hostile_test.sh PANEL RUNNER
set -u
panel=$1 runner=$2
scratch=$(mktemp -d)
source "$(dirname "$0")/helpers.sh"
client=(python3 "$(dirname "$0")/hostile_client.py")

"$runner" "$panel" --simulate --port 0 >"$scratch/out" 2>&1 &
server=$!
network_address=$(hostname -I 2>/dev/null | tr ' ' '\n' | grep -m1 '^[0-9.]*$')
if [ -n "$network_address" ]; then
  "$runner" "$panel" --simulate --listen "$network_address" --port 0 >"$scratch/network" 2>&1 &
  network=$!
fi
trap 'kill $server ${network:-} 2>/dev/null; wait 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$scratch"' EXIT
wait_for grep -q "token=" "$scratch/out" || wait_for grep -q "token=" "$scratch/out"
url=$(grep -o 'http://[^ ]*token=[0-9a-f]*' "$scratch/out")
base=${url%%/\?*}
port=${base##*:}
host=127.0.0.1:$port
curl -s -c "$scratch/jar" "$url" >/dev/null
cookie=$(awk '/vostrelle-panel/ {print $6 "=" $7}' "$scratch/jar")

# send NAME: the request on stdin, as it is; what came back within 2 s in $scratch/NAME.
send() { "${client[@]}" send 127.0.0.1 "$port" >"$scratch/$1"; }
crlf() { printf '%s\r\n' "$@"; } # a request's lines
ours=("Host: $host" "Cookie: $cookie")

# Memory means little under an emulator, which keeps its own.
if ! "$runner" --emulated; then
  grown_kib=$("${client[@]}" chunked 127.0.0.1 "$port" "$server" 64)
  check "64 MiB sent as one endless chunk-size line: the panel grows less than 4 MiB" \
    test "$grown_kib" -lt 4096
fi

"${client[@]}" hammer 127.0.0.1 "$port" 2.5 &
hammer=$!
sleep 1
loaded=$(curl -s -o /dev/null -b "$scratch/jar" -w '%{http_code} %{time_total}' --max-time 5 "$base/")
wait $hammer
check "while 80 connections take slots without the cookie, the page loads within 1 s ($loaded)" \
  awk -v loaded="$loaded" 'BEGIN { split(loaded, a, " "); exit !(a[1] == 200 && a[2] < 1) }'
crlf "GET /events/0 HTTP/1.0" "${ours[@]}" "" | send events-1.0
check "the live stream to an HTTP/1.0 client: its events, without chunks" has events-1.0 "^event: hello"
check "  (no Transfer-Encoding)" lacks events-1.0 "Transfer-Encoding"

others="${cookie%%=*}=junk; prefs=a/b; $cookie"
check "the cookie is taken behind prefs=a/b and a junk one of its name" \
  test "$(curl -s -o /dev/null -w '%{http_code}' -H "Cookie: $others" "$base/")" = 200

crlf "GET / HTTP/1.1" "${ours[@]}" "Host: attacker.example" "" | send two-hosts
check "Host named twice: 400, and the connection closes" has two-hosts "^HTTP/1.1 400 .*"$'\r'
check "  (Connection: close)" has two-hosts "^Connection: close"
crlf "GET /nothing HTTP/1.1" "${ours[@]}" "" "GET / HTTP/1.1" "${ours[@]}" "" | send after-refusal
check "after a refusal, nothing more is answered on its connection" \
  test "$(count_of after-refusal '^HTTP/')" = 1
crlf "POST /pwm HTTP/1.1" "${ours[@]}" "Origin: http://$host" "Transfer-Encoding: gzip, chunked" "" \
  2 77 0 "" | send gzip-chunked
check "Transfer-Encoding: gzip, chunked is refused: 501" has gzip-chunked "^HTTP/1.1 501 "
hex=$(curl -s -o /dev/null -w '%{http_code}' -b "$scratch/jar" -H "Origin: $base" -d 0x00CA "$base/pwm")
check "PWM 0x00CA is refused: 400" test "$hex" = 400
crlf "HEAD / HTTP/1.1" "${ours[@]}" "Connection: close" "" | send head
check "HEAD: the page's headers and length, no body" has head "^Content-Length: [1-9]"
check "  (nothing after the headers)" test "$(tail -c 4 "$scratch/head" | od -An -c | tr -d ' ')" = '\r\n\r\n'

if [ -n "$network_address" ]; then
  wait_for grep -q "token=" "$scratch/network" || wait_for grep -q "token=" "$scratch/network"
  check "on $network_address, it warns that the traffic is plain HTTP and names an SSH tunnel" \
    has network "plain HTTP: anyone on the network can read .*the token and the cookie"
  check "  (ssh -L)" has network "ssh -L [0-9]*:127.0.0.1:[0-9]* user@"
  check "  and not on 127.0.0.1" lacks out "plain HTTP"
fi
summary
