#!/usr/bin/env bash
# Builds every preset and runs its whole test suite: the i386 product (under
# qemu-i386 where the kernel cannot run it), the x86_64 build, and the x86_64
# build under AddressSanitizer and UndefinedBehaviorSanitizer, and libFuzzer
# over every entry point (the seed corpus, then a short exploration); then
# clang-tidy and cppcheck. The long runs are scripts/soak.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
timings=()
timed() { # timed NAME COMMAND...: runs it, notes its time, keeps going on failure
  local name=$1 start=$SECONDS
  shift
  echo "=== $name"
  "$@" 2>&1 | tee -a "$log" || status=1
  timings+=("$(printf '%-9s %4d s' "$name" $((SECONDS - start)))")
}
for preset in i386 native sanitize fuzz; do
  timed "$preset" cmake --workflow --preset "$preset"
done
timed lint scripts/lint.sh build/native

echo "=== time per preset"
printf '%s\n' "${timings[@]}"
echo "whole run: $SECONDS s"
# ctest's own summaries, added up over the presets.
read -r passed failed < <(awk '/tests passed, [0-9]+ tests failed out of/ {
  total += $NF; failed += $4 } END { print total - failed, failed + 0 }' "$log")
echo "all presets: $passed passed, $failed failed"
exit $status
