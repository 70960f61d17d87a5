#!/usr/bin/env bash
# Builds every preset and runs its whole test suite: the i386 product (under
# qemu-i386 where the kernel cannot run it), amd64, arm64 and armhf (under
# qemu-aarch64 and qemu-arm), amd64 under AddressSanitizer and
# UndefinedBehaviorSanitizer, and libFuzzer over every entry point (the seed
# corpus, then a short exploration); then the Debian packages of the four
# architectures with lintian and a side-by-side install; then clang-tidy and
# cppcheck. The long runs are scripts/soak.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT
status=0
timings=()
timed() { # timed NAME COMMAND...: runs it, notes its time and test count, keeps going on failure
  local name=$1 start=$SECONDS
  shift
  echo "=== $name"
  "$@" 2>&1 | tee "$log/$name" || status=1
  local counted
  counted=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\)/\2 tests, \1 failed/p;
    s/^\([0-9]*\) passed, \([0-9]*\) failed$/\1 checks passed, \2 failed/p' "$log/$name" | tail -1)
  timings+=("$(printf '%-9s %4d s  %s' "$name" $((SECONDS - start)) "$counted")")
}
for preset in i386 amd64 arm64 armhf sanitize fuzz; do
  timed "$preset" cmake --workflow --preset "$preset"
done
packages() {
  scripts/package.sh
  lintian --fail-on error,warning build/packages/*.deb
  echo "lintian: no errors, no warnings on $(ls build/packages/*.deb | wc -l) packages"
  bash tests/packaging/side_by_side_test.sh build/packages "$PWD"
}
timed packages packages
timed lint scripts/lint.sh build/amd64

echo "=== time and tests per preset"
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
echo "all presets: $passed passed, $failed failed"
exit $status
