# Shared by the tools' test scripts: checks, counted; programs run side by
# side. The sourcing script sets $scratch (a directory) and $runner (the
# build's run-target, which starts a program built for the target under the
# emulator where one is needed; empty for programs this machine runs).
passed=0 failed=0 started=()

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
# Every probe run waits the driver's two seconds at load, so independent runs
# go side by side: start NAME PROGRAM ARGS... runs one in the background with
# its output in $scratch/NAME; after finish_started, status_of NAME is its
# exit status. A shell function given as the program runs as it is; it puts
# the runner where it belongs itself.
start() { run_logged "$1" "" "${@:2}" & started+=($!); }
# start_reading NAME PATTERN PROGRAM ARGS...: as start, for a run checked by
# an exact reading, which runs again (three runs at most) until its output
# holds PATTERN. On a busy machine the simulated board's reply now and then
# comes after the driver's deadline of a millisecond or two, and that one
# conversion reads wrong; a driver that reads wrong every time still fails.
start_reading() { run_logged "$@" & started+=($!); }
# A run that hangs is ended after four minutes, so that its name and output
# say which one it was, not only the test's own time limit.
run_logged() {
  local name=$1 pattern=$2
  shift 2
  local run=(timeout -k 5 240 ${runner:+"$runner"})
  declare -F "$1" >/dev/null && run=()
  for _ in 1 2 3; do
    "${run[@]}" "$@" >"$scratch/$name" 2>&1
    echo $? >"$scratch/$name.status"
    [ -z "$pattern" ] || grep -q -- "$pattern" "$scratch/$name" && return
  done
}
finish_started() {
  ((${#started[@]})) && wait "${started[@]}"
  started=()
}
status_of() { cat "$scratch/$1.status"; }
has() { grep -q -- "$2" "$scratch/$1" || { echo "  '$2' not in $1:"; sed 's/^/    /' "$scratch/$1" | head -20; false; }; }
lacks() { ! grep -q -- "$2" "$scratch/$1" || { echo "  '$2' in $1"; false; }; }
count_of() { grep -cE -- "$2" "$scratch/$1"; }
# wait_for CONDITION-COMMAND...: up to 10 s.
# A TCP port on 127.0.0.1 that nothing listens on now, for a server a test starts.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
wait_for() { for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done; return 1; }
# end_at_exit: at exit the programs whose IDs the script puts in $pids are
# ended and waited for, and $scratch goes (kept when KEEP is set, to look into).
end_at_exit() {
  pids=()
  trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$scratch"' EXIT
}
summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
