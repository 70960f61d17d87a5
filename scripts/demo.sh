#!/usr/bin/env bash
# Builds the i386 library and shows it at work against the simulated board.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset i386 >/dev/null
cmake --build --preset i386
ctest --test-dir build/i386 -R lifecycle --output-on-failure
