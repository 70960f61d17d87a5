#!/usr/bin/env bash
# The long runs, kept out of the test suite: the soaks on the real clock
# (about ten minutes), every one of the 2^32 floats through the rounding
# check, and a long libFuzzer run (VOSTRELLE_FUZZ_SECONDS, default an hour).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset amd64 >/dev/null
cmake --build --preset amd64 --target soak_test rounding_differential_test
VOSTRELLE_SOAK_REAL_CLOCK=1 build/amd64/tests/soak_test
VOSTRELLE_EVERY_FLOAT=1 build/amd64/tests/rounding_differential_test
cmake --preset fuzz -DVOSTRELLE_FUZZ_SECONDS="${VOSTRELLE_FUZZ_SECONDS:-3600}" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz -R fuzz_entry_points
