#!/usr/bin/env bash
# The whole benchmark in one command: builds the amd64 and i386 library and
# benchmark (optimised, no sanitizers), runs both against the simulated board
# with the Python peer alongside the amd64 run, and writes
# bench/results/results.md and one latency histogram per conversion type.
# Usage: bench/run.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
out=bench/results
mkdir -p "$out/amd64" "$out/i386"
for preset in amd64 i386; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target vostrelle vostrelle_bench >/dev/null
done
emulator=()
build/i386/tools/vostrelle-sim --help >/dev/null 2>&1 || emulator=(qemu-i386 -L /)

echo "== amd64 (x86_64)"
build/amd64/bench/vostrelle_bench build/amd64/src/libvostrelle.so "$out/amd64" "$@" --peer bench/peer.py
echo
echo "== i386$([ ${#emulator[@]} -gt 0 ] && echo ' under qemu-i386')"
"${emulator[@]}" build/i386/bench/vostrelle_bench build/i386/src/libvostrelle.so "$out/i386" "$@"

{
  echo "# Benchmark results"
  echo
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -m); latencies are wall-clock per call."
  echo
  echo "## amd64 (x86_64)"
  echo
  cat "$out/amd64/results.md"
  echo
  echo "## i386$([ ${#emulator[@]} -gt 0 ] && echo ' (under qemu-i386: emulation overhead included)')"
  echo
  cat "$out/i386/results.md"
} >"$out/results.md"

for conversion in ea ead; do
  gnuplot -e "out='$out/histogram-$conversion.png'; dir='$out/amd64'; conversion='$conversion'" bench/histogram.gp
done
echo
echo "wrote $out/results.md and $out/histogram-ea.png, $out/histogram-ead.png"
