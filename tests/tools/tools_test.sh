#!/usr/bin/env bash
# What a user of vostrelle-probe and vostrelle-sim sees: outputs, exit codes,
# and the simulator's link. Usage: tools_test.sh PROBE SIM [EMULATOR...]
set -u
probe=$1 sim=$2
shift 2
emulator=("$@")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0 failed=0

check() { # check NAME CONDITION-COMMAND...
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name"
  fi
}
run() { # run OUTPUT-FILE PROGRAM ARGS... ; sets $status
  local out=$1
  shift
  "${emulator[@]}" "$@" >"$out" 2>&1
  status=$?
}
has() { grep -q -- "$2" "$1" || { echo "  '$2' not in $1:"; sed 's/^/    /' "$1" | head -20; false; }; }

run "$scratch/info" "$probe" --simulate info
check "info exits 0" test $status -eq 0
check "info shows the title" has "$scratch/info" "title:   Vostrelle"
check "info shows the detail in UTF-8" has "$scratch/info" $'2 f\xc3\xa9vrier 2015'
check "info walks the analog inputs" has "$scratch/info" "7  EA7(PA7)0..1023"
check "info lists no binary inputs" has "$scratch/info" "(none)"
check "info walks the binary outputs" has "$scratch/info" "7  SB7=PB7"

run "$scratch/read" "$probe" --simulate read
check "read exits 0" test $status -eq 0
check "read prints a header and eight rows" test "$(grep -cE '^ +[0-7]  EA[0-7]\(PA[0-7]\)0\.\.1023 +[0-9]+ +[0-9]\.[0-9]{4}$' "$scratch/read")" -eq 8

run "$scratch/csv" "$probe" --simulate read --csv --count 2 --interval 10
check "csv has a header and sixteen rows" test "$(grep -cE '^[0-9]+\.[0-9]{3},[0-7],EA[0-7]\(PA[0-7]\)0\.\.1023,[0-9]+,[0-9]\.[0-9]{4}$' "$scratch/csv")" -eq 16
check "csv header" has "$scratch/csv" "^seconds,channel,name,count,volts$"

run "$scratch/silent" "$probe" --simulate=silent read
check "a silent board reads zeros" test "$(grep -cE ' 0 +0\.0000$' "$scratch/silent")" -eq 8

run "$scratch/set" "$probe" --simulate set pwm 128
check "set pwm goes through sa" has "$scratch/set" "sa(0, 128) returned 64"
check "set pwm reaches the board" has "$scratch/set" "pwm 128"
run "$scratch/line" "$probe" --simulate set line 3 on
check "set line is read back" has "$scratch/line" "PB3=1"
check "set line reaches the board" has "$scratch/line" "lines 0x08"

run "$scratch/watch" "$probe" --simulate watch --frames 2 --interval 10
check "watch exits 0" test $status -eq 0
check "watch redraws eight lines" test "$(grep -c 'PA7 \[' "$scratch/watch")" -eq 2
check "watch shows the cursor again" has "$scratch/watch" $'\e\[?25h'

if command -v tmux >/dev/null; then
  # Ctrl-C in a real terminal ends watch cleanly and brings the cursor back.
  session=vostrelle-watch-$$
  tmux new-session -d -s "$session" -x 100 -y 20 \
    "${emulator[*]} $probe --simulate watch --interval 50; echo exit=\$? > $scratch/watch-exit; sleep 5"
  for _ in $(seq 100); do tmux capture-pane -p -t "$session" | grep -q 'PA7 \[' && break; sleep 0.1; done
  tmux capture-pane -p -t "$session" >"$scratch/watch-screen"
  tmux send-keys -t "$session" C-c
  for _ in $(seq 50); do [ -s "$scratch/watch-exit" ] && break; sleep 0.1; done
  tmux kill-session -t "$session" 2>/dev/null
  check "watch shows the live table in a terminal" has "$scratch/watch-screen" "PA7 \["
  check "Ctrl-C ends watch cleanly" has "$scratch/watch-exit" "exit=0"
fi

run "$scratch/doctor" "$probe" --simulate doctor
check "doctor on a simulated board finds a board that answers" has "$scratch/doctor" "ok    the board answered"
if [ ! -e /dev/ttyACM0 ]; then
  run "$scratch/doctor-none" "$probe" doctor
  check "doctor without a board fails" test $status -eq 1
  check "doctor says no device is present" has "$scratch/doctor-none" "FAIL  /dev/ttyACM0 does not exist"
fi

run "$scratch/bad-value" "$probe" --simulate set pwm 300
check "a value out of range is refused" test $status -eq 2
check "and explained" has "$scratch/bad-value" "pwm takes one value from 0 to 255"
run "$scratch/bad-mode" "$probe" --simulate=bogus info
check "an unknown mode is refused" test $status -eq 2
run "$scratch/no-command" "$probe"
check "a missing command is refused" test $status -ne 0
run "$scratch/no-library" "$probe" --library /nonexistent/libvostrelle.so info
check "a missing library fails" test $status -eq 1
check "and says which path was tried and why" has "$scratch/no-library" "/nonexistent/libvostrelle.so: .*No such file"

"${emulator[@]}" "$sim" --link "$scratch/board" --input 0=321 >"$scratch/sim" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -L "$scratch/board" ] && break; sleep 0.1; done
check "the simulator makes its link" test -L "$scratch/board"
check "and says where the board is" has "$scratch/sim" "healthy board on /dev/pts/"
kill -TERM $sim_pid
wait $sim_pid
check "the simulator ends cleanly on SIGTERM" test $? -eq 0
check "and removes its link" test ! -e "$scratch/board"

echo "precious" >"$scratch/file"
run "$scratch/sim-refuse" "$sim" --link "$scratch/file" --seconds 1
check "the simulator refuses to replace a file" test $status -eq 1
check "and leaves it alone" test "$(cat "$scratch/file")" = precious
run "$scratch/sim-input" "$sim" --input 9=5
check "a bad input is refused" test $status -eq 2

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
