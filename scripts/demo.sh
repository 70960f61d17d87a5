#!/usr/bin/env bash
# Builds the i386 library and its probe, then shows them at work against the
# simulated board: the driver's description of the board, one reading of
# every analog input and a short recording; then the Python package over the
# amd64 library.
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
echo
echo "\$ vostrelle-probe --simulate record --channels 0,1 --rate 10 --count 5"
"${probe[@]}" --simulate record --channels 0,1 --rate 10 --count 5

cmake --preset amd64 >/dev/null
cmake --build --preset amd64 --target vostrelle vostrelle-sim >/dev/null
echo
echo "\$ vostrelle-sim --input 0=654 --run -- python3 -c \"import vostrelle; print(vostrelle.Board().inputs[0].volts())\""
build/amd64/tools/vostrelle-sim --input 0=654 --run -- env PYTHONPATH="$PWD/python" \
  VOSTRELLE_LIBRARY="$PWD/build/amd64/src/libvostrelle.so.1" \
  /usr/bin/python3 -c "import vostrelle; print(vostrelle.Board().inputs[0].volts())"
