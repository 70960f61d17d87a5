#!/usr/bin/env bash
# Installs into a staging prefix, builds a C consumer with pkg-config and with
# find_package, and runs both against the simulated board, every program
# through RUNNER. With INTERPRETER (an ELF interpreter that does not exist),
# the consumers and the installed simulator get it, so that only the runner
# can start them.
# Usage: install_test.sh BUILD-DIR SOURCE-DIR POINTER-BYTES RUNNER [INTERPRETER]
set -u
build=$1 source=$2 pointer_bytes=$3 runner=$4 interpreter=${5:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
source "$source/tests/tools/helpers.sh"

stage=$scratch/stage
cmake --install "$build" --prefix "$stage" >"$scratch/install.log" 2>&1
check "cmake --install succeeds" test $? -eq 0
libdir=$(dirname "$(find "$stage" -name 'libvostrelle.so' | head -1)")
check "the library is installed with its links" test -L "$libdir/libvostrelle.so" -a -L "$libdir/libvostrelle.so.1"
check "the header is installed" test -f "$stage/include/vostrelle.h"
check "the tools are installed" test -x "$stage/bin/vostrelle-probe" -a -x "$stage/bin/vostrelle-sim"
check "the pkg-config file is installed" test -f "$libdir/pkgconfig/vostrelle.pc"
check "the CMake package is installed" test -f "$libdir/cmake/vostrelle/vostrelleConfig.cmake"

compiler=cc
toolchain=()
if [ "$pointer_bytes" = 4 ]; then
  compiler=i686-linux-gnu-gcc
  toolchain=(-DCMAKE_TOOLCHAIN_FILE="$source/cmake/i386.cmake")
fi
link=()
if [ -n "$interpreter" ]; then
  link=(-Wl,--dynamic-linker="$interpreter")
  toolchain+=(-DCMAKE_EXE_LINKER_FLAGS="${link[*]}")
  patchelf --set-interpreter "$interpreter" "$stage/bin/vostrelle-sim"
fi
"$compiler" "$source/tests/tools/consumer/consumer.c" -o "$scratch/consumer-pc" "${link[@]}" \
  $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs vostrelle) >"$scratch/pc.log" 2>&1
check "a consumer builds with pkg-config" test $? -eq 0
cmake -S "$source/tests/tools/consumer" -B "$scratch/consumer-build" -DCMAKE_PREFIX_PATH="$stage" \
  "${toolchain[@]}" >"$scratch/fp.log" 2>&1 && cmake --build "$scratch/consumer-build" >>"$scratch/fp.log" 2>&1
check "a consumer builds with find_package" test $? -eq 0

for consumer in "$scratch/consumer-pc" "$scratch/consumer-build/consumer"; do
  start_reading run "ea(0) 321" "$stage/bin/vostrelle-sim" --input 0=321 --run -- \
    env LD_LIBRARY_PATH="$libdir" "$runner" "$consumer"
  finish_started
  check "$(basename "$consumer") runs" has run "title Vostrelle"
  check "$(basename "$consumer") reads the simulated board" has run "ea(0) 321"
done
summary
