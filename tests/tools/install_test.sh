#!/usr/bin/env bash
# Installs into a staging prefix, builds a C consumer with pkg-config and with
# find_package, runs both against the simulated board, and builds the .deb.
# Usage: install_test.sh BUILD-DIR SOURCE-DIR POINTER-BYTES [EMULATOR...]
set -u
build=$1 source=$2 pointer_bytes=$3
shift 3
emulator=("$@")
scratch=$(mktemp -d)
sim_pid=
trap '[ -n "$sim_pid" ] && kill $sim_pid 2>/dev/null; wait 2>/dev/null; rm -rf "$scratch"' EXIT
passed=0 failed=0
check() {
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}

stage=$scratch/stage
cmake --install "$build" --prefix "$stage" >"$scratch/install.log" 2>&1
check "cmake --install succeeds" test $? -eq 0
libdir=$(dirname "$(find "$stage" -name 'libvostrelle.so' | head -1)")
check "the library is installed with its links" test -L "$libdir/libvostrelle.so" -a -L "$libdir/libvostrelle.so.1"
check "the header is installed" test -f "$stage/include/vostrelle.h"
check "the tools are installed" test -x "$stage/bin/vostrelle-probe" -a -x "$stage/bin/vostrelle-sim"
check "the pkg-config file is installed" test -f "$libdir/pkgconfig/vostrelle.pc"
check "the CMake package is installed" test -f "$libdir/cmake/vostrelle/vostrelleConfig.cmake"

flags=()
toolchain=()
if [ "$pointer_bytes" = 4 ]; then
  flags=(-m32)
  toolchain=(-DCMAKE_TOOLCHAIN_FILE="$source/cmake/i386.cmake")
fi
cc "${flags[@]}" "$source/tests/tools/consumer/consumer.c" -o "$scratch/consumer-pc" \
  $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs vostrelle) >"$scratch/pc.log" 2>&1
check "a consumer builds with pkg-config" test $? -eq 0
cmake -S "$source/tests/tools/consumer" -B "$scratch/consumer-build" -DCMAKE_PREFIX_PATH="$stage" \
  "${toolchain[@]}" >"$scratch/fp.log" 2>&1 && cmake --build "$scratch/consumer-build" >>"$scratch/fp.log" 2>&1
check "a consumer builds with find_package" test $? -eq 0

expected_count="ea(0) 0"
if [ ! -e /dev/ttyACM0 ] && [ -w /dev ]; then
  "${emulator[@]}" "$stage/bin/vostrelle-sim" --link /dev/ttyACM0 --input 0=321 >"$scratch/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do [ -L /dev/ttyACM0 ] && break; sleep 0.1; done
  expected_count="ea(0) 321"
else
  echo "note: /dev/ttyACM0 exists or /dev is not writable: consumers run without the simulated board"
fi
for consumer in "$scratch/consumer-pc" "$scratch/consumer-build/consumer"; do
  # Under an emulator a first exchange may miss its deadline: try again.
  for _ in 1 2 3; do
    LD_LIBRARY_PATH=$libdir "${emulator[@]}" "$consumer" >"$scratch/run.log" 2>&1
    grep -q "$expected_count" "$scratch/run.log" && break
  done
  check "$(basename "$consumer") runs" grep -q "title Vostrelle" "$scratch/run.log"
  check "$(basename "$consumer") reads the board: $expected_count" grep -q "$expected_count" "$scratch/run.log"
done
if [ -n "$sim_pid" ]; then
  kill -TERM $sim_pid
  wait $sim_pid
  sim_pid=
  check "the simulator's link is gone" test ! -e /dev/ttyACM0
fi

(cd "$build" && cpack -B "$scratch/package" >"$scratch/cpack.log" 2>&1)
deb=$(ls "$scratch"/package/*.deb 2>/dev/null | head -1)
check "cpack builds a .deb" test -n "$deb"
if [ -n "$deb" ]; then
  arch=$([ "$pointer_bytes" = 4 ] && echo i386 || echo amd64)
  check "the package is for $arch" test "$(dpkg-deb -f "$deb" Architecture)" = "$arch"
  check "the package needs only libc6" test "$(dpkg-deb -f "$deb" Depends)" = "libc6 (>= 2.34)"
  dpkg-deb -c "$deb" >"$scratch/contents"
  for file in ./usr/include/vostrelle.h ./usr/bin/vostrelle-probe ./usr/bin/vostrelle-sim libvostrelle.so.1 vostrelle.pc vostrelleConfig.cmake; do
    check "the package holds $file" grep -q "$file" "$scratch/contents"
  done
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
