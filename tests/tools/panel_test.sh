#!/usr/bin/env bash
# vostrelle-panel as an attacker and a careless client see it, over plain
# HTTP: every request without the cookie, for another Host, or changing
# something from another Origin is refused; bad values are refused with a
# reason and never reach the board (the simulator's trace shows what did).
# One request for each kind of refusal; the rules' every case is in
# tests/tools/panel/ (panel_rules_test).
# Usage: panel_test.sh PANEL SIM RUNNER
set -u
panel=$1 sim=$2 runner=$3
scratch=$(mktemp -d)
source "$(dirname "$0")/helpers.sh"

"$runner" "$sim" --trace --run -- "$runner" "$panel" --port 0 >"$scratch/out" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$scratch"' EXIT
wait_for grep -q "token=" "$scratch/out" || wait_for grep -q "token=" "$scratch/out"
url=$(grep -o 'http://[^ ]*token=[0-9a-f]*' "$scratch/out")
base=${url%%/\?*}
authority=${base#http://}
port=${authority##*:}
check "it prints a link to this machine only, with a token" test -n "$url" -a "${authority%:*}" = 127.0.0.1

# ask NAME CURL-ARGS...: the status code in $scratch/NAME.code, the whole answer in $scratch/NAME.
ask() {
  local name=$1
  shift
  curl -s -D "$scratch/$name" -o "$scratch/$name.body" -w '%{http_code}' --max-time 10 "$@" >"$scratch/$name.code"
  cat "$scratch/$name.body" >>"$scratch/$name"
}
code() { cat "$scratch/$1.code"; }
jar=$scratch/cookies

ask no-cookie "$base/"
check "the page without the token's cookie: 403 with what to do" test "$(code no-cookie)" = 403
check "  saying so" has no-cookie "open the panel with the link that vostrelle-panel printed"
ask no-cookie-events "$base/events/0"
check "the live stream without the cookie: 403" test "$(code no-cookie-events)" = 403
ask exchange -c "$jar" "$url"
check "the printed link: 303 to / with the cookie" test "$(code exchange)" = 303
check "  the cookie is HttpOnly and SameSite=Strict" has exchange "Set-Cookie: vostrelle-panel-$port=[0-9a-f]*; Path=/; HttpOnly; SameSite=Strict"
ask page -b "$jar" "$base/"
check "with the cookie: the page" test "$(code page)" = 200
check "  and headers that keep it out of frames and caches" has page "X-Frame-Options: DENY"
ask rebound -b "$jar" -H "Host: attacker.example:$port" "$base/"
check "another name for this address (DNS rebinding), cookie or not: 403" test "$(code rebound)" = 403
check "  saying why" has rebound "only requests for its own address, not for Host 'attacker.example:$port'"
ask localhost -H "Host: localhost:$port" "$base/"
check "localhost names this panel too (then the cookie is asked for)" has localhost "no access: open the panel"

post_from() { # post_from ORIGIN NAME PATH BODY: a POST as a page at ORIGIN sends it
  local origin=$1 name=$2 path=$3 body=$4
  ask "$name" -b "$jar" ${origin:+-H "Origin: $origin"} -H "Content-Type: text/plain" --data-binary "$body" "$base$path"
}
post() { post_from "$base" "$@"; }
post_from http://attacker.example foreign /led 1
check "a change from another site's page: 403" test "$(code foreign)" = 403
check "  saying why" has foreign "only from the panel's own page, not from Origin 'http://attacker.example'"
ask get-change -b "$jar" "$base/led"
check "a change by GET: 405, naming the method it takes" has get-change "^Allow: POST"
ask preflight -b "$jar" -X OPTIONS -H "Origin: http://attacker.example" -H "Access-Control-Request-Method: POST" "$base/led"
check "a cross-origin preflight is not answered with permission" test "$(code preflight)" = 405
check "no answer carries cross-origin headers" bash -c "! grep -qi '^Access-Control' '$scratch'/*"

post pwm-high /pwm 256
check "PWM 256: 400" test "$(code pwm-high)" = 400
check "  with the range" has pwm-high "a whole number from 0 to 255, not '256'"
post huge /pwm "$(head -c 100000 /dev/zero | tr '\0' 1)"
check "a body far beyond one number: 413" test "$(code huge)" = 413
ask no-events -b "$jar" "$base/events/9999"
check "a history beyond ten minutes: 400" test "$(code no-events)" = 400
ask no-recording -b "$jar" "$base/recording.csv"
check "a recording before any: 404" test "$(code no-recording)" = 404
post stop-idle /record/stop ""
check "stopping a recording that is not running: 409" test "$(code stop-idle)" = 409

post pwm /pwm 200
check "PWM 200 from the panel's page: 200 and the outputs" has pwm '"pwm":200'
post line /line/3 1
check "line 3 on: 200 and the read-back" has line '"lines":\[0,0,0,1,0,0,0,0\]'
sleep 0.5
check "the board got PWM 200 and PB3 high" grep -q "PWM duty 200" "$scratch/out"
check "  and nothing from the refused requests" test "$(grep -cE 'PWM duty|frequency [0-9]|PB[0-7] (high|low)' "$scratch/out")" = 2

# The status the page shows: whether the board answers, the doctor's way.
last_status() { # last_status COOKIE-JAR BASE: the latest status event of 3 s of the stream
  timeout 3 curl -s -N -b "$1" "$2/events/0" | sed -n 's/^data: \(.*"answer".*\)$/\1/p' | tail -1 | grep -o '"answer":"[a-z-]*"'
}
check "the status says the board answers" test "$(last_status "$jar" "$base")" = '"answer":"whole"'
"$runner" "$panel" --simulate=silent --port 0 >"$scratch/silent-panel" 2>&1 &
silent=$!
wait_for grep -q token= "$scratch/silent-panel" || wait_for grep -q token= "$scratch/silent-panel"
silent_url=$(grep -o 'http://[^ ]*token=[0-9a-f]*' "$scratch/silent-panel")
curl -s -c "$scratch/silent-jar" "$silent_url" >/dev/null
check "and that a silent one does not" test "$(last_status "$scratch/silent-jar" "${silent_url%%/\?*}")" = '"answer":"none"'
kill -TERM $silent
wait $silent

# The address it serves on, and a wildcard refused.
check "it listens on 127.0.0.1 only" bash -c "ss -Hltn 'sport = :$port' | awk '{print \$4}' | grep -qx '127.0.0.1:$port'"
start wildcard "$panel" --simulate --listen 0.0.0.0 --port 0
finish_started
check "--listen 0.0.0.0 is refused with what to give instead" has wildcard "not 0.0.0.0"
check "  and exits 1" test "$(status_of wildcard)" -eq 1

kill -TERM $server
wait $server
check "SIGTERM ends it with status 0" test $? -eq 0
summary
