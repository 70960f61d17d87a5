#!/usr/bin/env bash
# Builds every preset and runs its whole test suite: the i386 product (under
# qemu-i386 where the kernel cannot run it), the x86_64 build, and the x86_64
# build under AddressSanitizer and UndefinedBehaviorSanitizer, and a bounded
# libFuzzer run over every entry point; then clang-tidy and cppcheck.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

status=0
for preset in i386 native sanitize fuzz; do
  echo "=== $preset"
  cmake --workflow --preset "$preset" || status=1
done
echo "=== lint"
scripts/lint.sh build/native || status=1
exit $status
