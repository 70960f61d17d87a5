#!/usr/bin/env bash
# Builds the i386 library and its probe, then shows them at work against the
# simulated board: the driver's description of the board, then one reading
# of every analog input.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset i386 >/dev/null
cmake --build --preset i386 --target vostrelle vostrelle-probe vostrelle-sim >/dev/null
emulator=()
if ! build/i386/tools/vostrelle-sim --help >/dev/null 2>&1; then
  emulator=(qemu-i386 -L /) # this kernel cannot run i386 programs itself
fi
probe=("${emulator[@]}" build/i386/tools/vostrelle-probe)
echo "\$ vostrelle-probe --simulate info"
"${probe[@]}" --simulate info
echo
echo "\$ vostrelle-probe --simulate read"
"${probe[@]}" --simulate read
