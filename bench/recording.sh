#!/usr/bin/env bash
# Recording on a fixed schedule, measured: vostrelle-probe record and the
# Python package's Board.record, all eight inputs in counts at 100 Hz against
# the healthy simulated board, and one name call from Python beside the same
# call from C. Writes bench/results/recording.md (and the probe's CSV).
# Usage: bench/recording.sh [SECONDS]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
seconds=${1:-60}
build=build/amd64
cmake --preset amd64 >/dev/null
cmake --build --preset amd64 --target vostrelle vostrelle-probe vostrelle-sim vostrelle_name_call >/dev/null
out=bench/results
mkdir -p "$out"
library=$PWD/$build/src/libvostrelle.so.1
sim=$build/tools/vostrelle-sim

echo "== vostrelle-probe record, 8 inputs in counts at 100 Hz for $seconds s"
"$sim" --wave --run -- "$build/tools/vostrelle-probe" --library "$library" record --counts --rate 100 \
  --duration "$seconds" --output "$out/record-100hz.csv" 2>"$out/record-summary.txt"
cat "$out/record-summary.txt"
# How far the last row lies from its slot on the schedule: the drift.
drift=$(awk -F, 'NR > 1 { last = $1 } END { printf "%.3f", (last - int(last / 0.01 + 0.5) * 0.01) * 1000 }' \
  "$out/record-100hz.csv")
read -r scans missed < <(sed -n 's/^record: \([0-9]*\) scans, \([0-9]*\) slots missed.*/\1 \2/p' \
  "$out/record-summary.txt")
read -r p50 p99 max < <(sed -n 's/.*p50 \([0-9.]*\) ms, p99 \([0-9.]*\) ms, max \([0-9.]*\) ms/\1 \2 \3/p' \
  "$out/record-summary.txt")

echo "== the Python package, same schedule; name calls"
c_ns=$("$build/bench/vostrelle_name_call" "$library")
python_rows=$("$sim" --wave --run -- env PYTHONPATH="$PWD/python" VOSTRELLE_LIBRARY="$library" \
  /usr/bin/python3 bench/python_record.py --seconds "$seconds" --c-name-call-ns "$c_ns")

{
  echo "# Recording on a schedule"
  echo
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -m); 8 inputs in counts at 100 Hz for $seconds s,"
  echo "healthy simulated board; start-time error is each scan's start after its slot."
  echo
  echo "| recorder | scans | missed | error p50 | error p99 | error max | last scan vs its slot |"
  echo "|---|---:|---:|---:|---:|---:|---:|"
  echo "| vostrelle-probe record | $scans | $missed | $p50 ms | $p99 ms | $max ms | $drift ms |"
  echo "$python_rows"
} >"$out/recording.md"
cat "$out/recording.md"
