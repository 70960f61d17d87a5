#!/usr/bin/env bash
# Builds the i386 library and its probe, then shows them at work against the
# simulated board: the driver's description of the board, one reading of
# every analog input and a short recording; then the Python package over the
# amd64 library, and the browser panel answering its first request.
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
cmake --build --preset amd64 --target vostrelle vostrelle-sim vostrelle-panel >/dev/null
echo
echo "\$ vostrelle-sim --input 0=654 --run -- python3 -c \"import vostrelle; print(vostrelle.Board().inputs[0].volts())\""
build/amd64/tools/vostrelle-sim --input 0=654 --run -- env PYTHONPATH="$PWD/python" \
  VOSTRELLE_LIBRARY="$PWD/build/amd64/src/libvostrelle.so.1" \
  /usr/bin/python3 -c "import vostrelle; print(vostrelle.Board().inputs[0].volts())"

echo
echo "\$ vostrelle-panel --simulate        # open its link in a browser; here curl takes the first live event"
scratch=$(mktemp -d)
build/amd64/tools/panel/vostrelle-panel --simulate --port 0 >"$scratch/panel" 2>&1 &
panel=$!
trap 'kill $panel 2>/dev/null; rm -rf "$scratch"' EXIT
for _ in $(seq 150); do grep -q token= "$scratch/panel" && break; sleep 0.2; done
cat "$scratch/panel"
link=$(grep -o 'http://[^ ]*token=[0-9a-f]*' "$scratch/panel")
curl -s -c "$scratch/cookie" "$link" >/dev/null
echo "first live event (the page draws these):"
timeout 3 curl -s -N -b "$scratch/cookie" "${link%%/\?*}/events/0" | sed -n 's/^data: //p' | head -1 | cut -c1-240 || true
echo "..."
