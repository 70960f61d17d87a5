#!/usr/bin/env bash
# vostrelle-panel with two boards over plain HTTP: one page for both at "/",
# the old page of several boards gone; a change names its board with
# ?board=N and reaches that board only (the simulators' traces show which
# one got it); a board it does not have is refused.
# Usage: panel_boards_test.sh PANEL SIM RUNNER
set -u
panel=$1 sim=$2 runner=$3
scratch=$(mktemp -d)
source "$(dirname "$0")/helpers.sh"
end_at_exit

for name in a b; do
  "$runner" "$sim" --link "$scratch/$name" --trace >"$scratch/sim-$name" 2>&1 &
  pids+=($!)
done
wait_for test -L "$scratch/a" -a -L "$scratch/b"
"$runner" "$panel" --port 0 --device "$scratch/a" --device "$scratch/b" >"$scratch/out" 2>&1 &
pids+=($!)
wait_for grep -q "token=" "$scratch/out" || wait_for grep -q "token=" "$scratch/out" ||
  wait_for grep -q "token=" "$scratch/out"
url=$(grep -o 'http://[^ ]*token=[0-9a-f]*' "$scratch/out")
base=${url%%/\?*}
curl -s -c "$scratch/jar" "$url" >/dev/null
post() { # post PATH VALUE: the status code
  curl -s -o /dev/null -w '%{http_code}' -b "$scratch/jar" -H "Origin: $base" -d "$2" "$base$1"
}

check "it names both boards" has out "boards on $scratch/a $scratch/b"
curl -s -b "$scratch/jar" "$base/" >"$scratch/page"
check "the one page serves them" has page 'src="/panel.js"'
status_of() { curl -s -o /dev/null -w '%{http_code}' -b "$scratch/jar" "$base$1"; }
check "  and no other" test "$(status_of /boards.html)" = 404
check "the LED of board 1: 200" test "$(post '/led?board=1' 1)" = 200
check "a board it does not have: 404" test "$(post '/led?board=2' 1)" = 404
sleep 0.5
check "the second board switched its LED" has sim-b "PB0 high"
check "  and the first did not" lacks sim-a "PB0 high"
summary
