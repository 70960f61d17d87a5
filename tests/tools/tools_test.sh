#!/usr/bin/env bash
# What a user of vostrelle-probe and vostrelle-sim sees: outputs, exit codes,
# and the simulator's link. Usage: tools_test.sh PROBE SIM RUNNER
set -u
probe=$1 sim=$2 runner=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
source "$(dirname "$0")/helpers.sh"

start info "$probe" --simulate info
start read "$probe" --simulate read
start csv "$probe" --simulate read --csv --count 2 --interval 10
start silent "$probe" --simulate=silent read
start set "$probe" --simulate set pwm 128
start line "$probe" --simulate set line 3 on
start watch "$probe" --simulate watch --frames 2 --interval 10
[ -e /dev/ttyACM0 ] || start doctor-none "$probe" doctor
start bad-value "$probe" --simulate set pwm 300
start bad-mode "$probe" --simulate=bogus info
start no-command "$probe"
start no-library "$probe" --library /nonexistent/libvostrelle.so info
echo "precious" >"$scratch/file"
start sim-refuse "$sim" --link "$scratch/file" --seconds 1
start sim-input "$sim" --input 9=5
start help-bad-mode "$probe" --simulate=bogus --help
start sim-help-bad-input "$sim" --input 9=5 --mode bogus --help

# Doctor judges the board by its deadlines: away from the busy runs above.
finish_started
start doctor "$probe" --simulate doctor
start doctor-one-byte "$probe" --simulate=one-byte doctor

if command -v tmux >/dev/null; then
  # Ctrl-C in a real terminal ends watch cleanly and brings the cursor back.
  session=vostrelle-watch-$$
  tmux new-session -d -s "$session" -x 100 -y 20 \
    "$runner $probe --simulate watch --interval 50; echo exit=\$? > $scratch/watch-exit; sleep 5"
  wait_for sh -c "tmux capture-pane -p -t $session | grep -q 'PA7 \['"
  tmux capture-pane -p -t "$session" >"$scratch/watch-screen"
  tmux send-keys -t "$session" C-c
  wait_for test -s "$scratch/watch-exit"
  tmux kill-session -t "$session" 2>/dev/null
  check "watch shows the live table in a terminal" has watch-screen "PA7 \["
  check "Ctrl-C ends watch cleanly" has watch-exit "exit=0"
fi

"$runner" "$sim" --link "$scratch/board" --input 0=321 >"$scratch/sim" 2>&1 &
sim_pid=$!
wait_for test -L "$scratch/board"
check "the simulator makes its link" test -L "$scratch/board"
wait_for grep -q "board on" "$scratch/sim"
check "and says where the board is" has sim "healthy board on /dev/pts/"
kill -TERM $sim_pid
wait $sim_pid
check "the simulator ends cleanly on SIGTERM" test $? -eq 0
check "and removes its link" test ! -e "$scratch/board"

finish_started
check "info exits 0" test "$(status_of info)" -eq 0
check "info shows the title" has info "title:   Vostrelle"
check "info shows the detail in UTF-8" has info $'2 f\xc3\xa9vrier 2015'
check "info walks the analog inputs" has info "7  EA7(PA7)0..1023"
check "info lists no binary inputs" has info "(none)"
check "info walks the binary outputs" has info "7  SB7=PB7"

check "read exits 0" test "$(status_of read)" -eq 0
check "read prints a header and eight rows" \
  test "$(count_of read '^ +[0-7]  EA[0-7]\(PA[0-7]\)0\.\.1023 +[0-9]+ +[0-9]\.[0-9]{4}$')" -eq 8
check "csv has a header and sixteen rows" \
  test "$(count_of csv '^[0-9]+\.[0-9]{3},[0-7],EA[0-7]\(PA[0-7]\)0\.\.1023,[0-9]+,[0-9]\.[0-9]{4}$')" -eq 16
check "csv header" has csv "^seconds,channel,name,count,volts$"
check "a silent board reads zeros" test "$(count_of silent ' 0 +0\.0000$')" -eq 8

check "set pwm goes through sa" has set "sa(0, 128) returned 64"
check "set pwm reaches the board" has set "pwm 128"
check "set line is read back" has line "PB3=1"
check "set line reaches the board" has line "lines 0x08"

check "watch exits 0" test "$(status_of watch)" -eq 0
check "watch redraws eight lines" test "$(count_of watch 'PA7 \[')" -eq 2
check "watch shows the cursor again" has watch $'\e\[?25h'

check "doctor on a simulated board finds a board that answers" has doctor "ok    the board answered"
# One byte of two, or none when a busy machine delays even that one.
check "doctor fails a board that answers one byte of two" test "$(status_of doctor-one-byte)" -eq 1
check "and never passes it" lacks doctor-one-byte "ok    the board answered"
if [ -e "$scratch/doctor-none" ]; then
  check "doctor without a board fails" test "$(status_of doctor-none)" -eq 1
  check "doctor says no device is present" has doctor-none "FAIL  /dev/ttyACM0 does not exist"
fi

check "a value out of range is refused" test "$(status_of bad-value)" -eq 2
check "and explained" has bad-value "pwm takes one value from 0 to 255"
check "an unknown mode is refused" test "$(status_of bad-mode)" -eq 2
check "a missing command is a usage error" test "$(status_of no-command)" -eq 2
check "a missing library fails" test "$(status_of no-library)" -eq 1
check "and says which path was tried and why" has no-library "/nonexistent/libvostrelle.so: .*No such file"

check "the simulator refuses to replace a file" test "$(status_of sim-refuse)" -eq 1
check "and leaves it alone" test "$(cat "$scratch/file")" = precious
check "a bad input is refused" test "$(status_of sim-input)" -eq 2
check "--help is answered before a bad mode" test "$(status_of help-bad-mode)" -eq 0
check "and shows the options" has help-bad-mode "^Usage: .*vostrelle-probe"
check "the simulator answers --help before bad values" test "$(status_of sim-help-bad-input)" -eq 0
check "and shows its options" has sim-help-bad-input "^Usage: .*vostrelle-sim"

summary
