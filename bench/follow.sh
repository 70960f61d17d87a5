#!/usr/bin/env bash
# vostrelle-probe record when the board goes and comes back, measured (see
# bench/follow.py): the time from the board's return to its first reading,
# and the recorder's CPU while the board is gone or silent. Writes
# bench/results/follow.md.
# Usage: bench/follow.sh [CYCLES]   (default 5; about 6 s each)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=build/amd64
cmake --preset amd64 >/dev/null
cmake --build --preset amd64 --target vostrelle vostrelle-probe vostrelle-sim >/dev/null
out=bench/results
mkdir -p "$out"
rows=$(/usr/bin/python3 bench/follow.py --tools "$build/tools" --cycles "${1:-5}")
{
  echo "# The board goes and comes back"
  echo
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -m); vostrelle-probe record of one input every"
  echo "10 ms; the board a simulated one at a link, stopped and started again."
  echo
  echo "| measure | result | target |"
  echo "|---|---:|---|"
  echo "$rows"
} >"$out/follow.md"
cat "$out/follow.md"
