#!/usr/bin/env bash
# Builds every preset and runs its whole test suite: the i386 product (under
# qemu-i386 where the kernel cannot run it; its tool tests always), amd64,
# arm64 and armhf (under qemu-aarch64 and qemu-arm), amd64 under AddressSanitizer and
# UndefinedBehaviorSanitizer, and libFuzzer over every entry point (the seed
# corpus, then a short exploration); then the Debian packages of the four
# architectures with lintian and a side-by-side install; then clang-tidy and
# cppcheck. The long runs are scripts/soak.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

log=$(mktemp -d)
status=0
timings=()
failed_steps=0
timed() { # timed NAME COMMAND...: runs it, notes its time and test count, keeps going on failure
  local name=$1 start=$SECONDS result=ok
  shift
  echo "=== $name"
  "$@" 2>&1 | tee "$log/$name" || { status=1 failed_steps=$((failed_steps + 1)) result=FAILED; }
  local counted
  counted=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\)/\2 tests, \1 failed/p;
    s/^\([0-9]*\) passed, \([0-9]*\) failed$/\1 checks passed, \2 failed/p' "$log/$name" | tail -1)
  local behind
  behind=$(cat "$log/.$name.took" 2>/dev/null || true)
  timings+=("$(printf '%-9s %4d s %-18s %-6s %s' "$name" $((SECONDS - start)) "$behind" "$result" "$counted")")
}

presets=(i386 amd64 arm64 armhf sanitize fuzz)
# The i386 tool tests start programs only under qemu-i386, through their
# runner, so that a start that skips it fails here as on a kernel that cannot
# run i386 programs; VOSTRELLE_FORCE_EMULATOR=OFF scripts/test.sh runs them
# natively. The option stays in build/i386's cache; packages are built from
# the programs themselves, never from the tests' copies.
build() { # build PRESET: configures and builds it
  local options=()
  [ "$1" = i386 ] && options=(-DVOSTRELLE_FORCE_EMULATOR="${VOSTRELLE_FORCE_EMULATOR:-ON}")
  cmake --preset "$1" "${options[@]}" && cmake --build --preset "$1"
}
# in_background NAME COMMAND...: runs it with its output in $log/.NAME, then
# notes its status and time.
in_background() {
  local name=$1 start=$SECONDS result=0
  shift
  "$@" >"$log/.$name" 2>&1 || result=$?
  echo "(background $((SECONDS - start)) s)" >"$log/.$name.took"
  echo $result >"$log/.$name.status" && mv "$log/.$name.status" "$log/.$name.done"
}
# finished NAME: waits for in_background NAME, shows its output, fails as it
# did, or fails when the builds ended without it.
finished() {
  until [ -e "$log/.$1.done" ]; do
    kill -0 "$builder" 2>/dev/null || { sleep 1; [ -e "$log/.$1.done" ] || break; }
    sleep 0.5
  done
  cat "$log/.$1" 2>/dev/null
  [ -e "$log/.$1.done" ] || { echo "the background builds ended before $1 was built"; return 1; }
  return "$(cat "$log/.$1.done")"
}
# The builds run one after another in the background, at idle priority
# (SCHED_IDLE), while the presets built before them run their tests, and then
# clang-tidy and cppcheck. The tests mostly wait for the board and the clock
# (the i386 ones use a quarter of one core); a task of the idle class gives
# the processor up to them as soon as they want it, so they run as on a quiet
# machine, and the builds take what they leave.
(
  chrt --idle --pid 0 $BASHPID || echo "the builds run at normal priority: chrt --idle failed"
  ionice -c 3 -p $BASHPID 2>/dev/null || true
  for preset in "${presets[@]}"; do
    in_background "$preset" build "$preset"
  done
  in_background lint scripts/lint.sh build/amd64
) &
builder=$!
# An interrupted run takes its builds with it, rather than leaving them
# writing into build/ beside the next run's.
kill_tree() { local child; for child in $(pgrep -P "$1"); do kill_tree "$child"; done; kill "$1" 2>/dev/null; }
trap 'kill_tree "$builder" || true; rm -rf "$log"' EXIT
tested() { # tested PRESET: its build's output, then its tests
  finished "$1" && ctest --preset "$1"
}
for preset in "${presets[@]}"; do
  timed "$preset" tested "$preset"
done
packages() { # each step stops it: inside a pipeline, set -e does not
  scripts/package.sh || return
  lintian --fail-on error,warning build/packages/*.deb || return
  echo "lintian: no errors, no warnings on $(ls build/packages/*.deb | wc -l) packages"
  bash tests/packaging/side_by_side_test.sh build/packages "$PWD"
}
timed packages packages
timed lint finished lint

echo "=== time and tests per preset"
echo "(each: the time it waited for its build and ran its tests; then its build's or lint's own time in the"
echo " background, beside the tests before it)"
printf '%s\n' "${timings[@]}"
echo "whole run: $SECONDS s"
# Each failure once more, where the end of a long log shows it: ctest's list,
# GoogleTest's failed cases and where they failed, the scripts' checks.
if ((status)); then
  echo "=== what failed"
  for name in $(ls -tr "$log"); do
    grep -E -A4 '^[[:space:]]+[0-9]+ - |^\[  FAILED  \] [^ ]+ \(|^FAILED: |: Failure$' "$log/$name" |
      grep -v '^--$' | head -40 | sed "s/^/$name: /" || true
  done
fi
# ctest's own summaries and the scripts' closing lines, added up.
read -r passed failed < <(awk '
  /tests passed, [0-9]+ tests failed out of/ { total += $NF; failed += $4 }
  /^[0-9]+ passed, [0-9]+ failed$/ && FILENAME ~ /packages/ { total += $1 + $3; failed += $3 }
  END { print total - failed, failed + 0 }' "$log"/*)
# A step that failed without a failed test (a build, lint) counts as one.
((failed >= failed_steps)) || failed=$failed_steps
echo "all presets: $passed passed, $failed failed"
exit $status
