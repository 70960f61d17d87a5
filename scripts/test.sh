#!/usr/bin/env bash
# Builds every preset and runs its whole test suite: the i386 product (under
# qemu-i386 where the kernel cannot run it), the x86_64 build, and the x86_64
# build under AddressSanitizer and UndefinedBehaviorSanitizer, and a bounded
# libFuzzer run over every entry point; then clang-tidy and cppcheck.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
for preset in i386 native sanitize fuzz; do
  echo "=== $preset"
  cmake --workflow --preset "$preset" 2>&1 | tee -a "$log" || status=1
done
echo "=== lint"
scripts/lint.sh build/native || status=1

# ctest's own summaries, added up over the presets.
read -r passed failed < <(awk '/tests passed, [0-9]+ tests failed out of/ {
  total += $NF; failed += $4 } END { print total - failed, failed + 0 }' "$log")
echo "all presets: $passed passed, $failed failed"
exit $status
