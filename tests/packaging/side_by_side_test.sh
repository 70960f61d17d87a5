#!/usr/bin/env bash
# The Debian packages installed as a user would: libvostrelle1 for i386 and
# amd64 side by side with both -dev packages, the amd64 tools and the Python
# package, into a throwaway root. Usage: side_by_side_test.sh PACKAGE-DIR SOURCE-DIR
set -u
packages=$1 source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
runner= # the amd64 programs run here as they are
source "$source/tests/tools/helpers.sh"

root=$scratch/root
debs=()
for name in libvostrelle1_*_i386 libvostrelle1_*_amd64 libvostrelle-dev_*_i386 libvostrelle-dev_*_amd64 \
  vostrelle-tools_*_amd64 python3-vostrelle_*_all; do
  debs+=($(ls "$packages"/$name.deb))
done
if [ "$(id -u)" -eq 0 ]; then
  # A real dpkg database in the throwaway root; the C library is the host's,
  # not installed there, hence --force-depends.
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  : >"$root/var/lib/dpkg/status"
  dpkg --root="$root" --add-architecture i386
  dpkg --root="$root" --force-depends --force-script-chrootless -i "${debs[@]}" >"$scratch/dpkg.log" 2>&1
  check "dpkg installs both architectures side by side" test $? -eq 0
  check "and knows both libraries" test "$(dpkg --root="$root" -l 'libvostrelle1:*' | grep -c '^ii')" -eq 2
else
  echo "not root: unpacking with dpkg -x instead of installing"
  for deb in "${debs[@]}"; do dpkg -x "$deb" "$root"; done
fi
# pkg-config's answer: -L the architecture's own directory, then -lvostrelle.
links_to() {
  local libs
  libs=$(PKG_CONFIG_PATH="$root/usr/lib/$1/pkgconfig" pkg-config --libs vostrelle) || return 1
  [ "$(realpath "$(echo "$libs" | sed -n 's/^-L\([^ ]*\) -lvostrelle *$/\1/p')")" = "$root/usr/lib/$1" ]
}
for triplet in i386-linux-gnu x86_64-linux-gnu; do
  check "the $triplet library is in its multiarch directory" test -f "$root/usr/lib/$triplet/libvostrelle.so.1"
  check "pkg-config answers for $triplet" links_to $triplet
done
check "the man pages are installed" test -f "$root/usr/share/man/man1/vostrelle-probe.1.gz"
check "the example channel file is installed" test -f "$root/usr/share/doc/vostrelle-tools/examples/channels.toml"

start version "$root/usr/bin/vostrelle-probe" --version
start info "$root/usr/bin/vostrelle-probe" --simulate info
start read "$root/usr/bin/vostrelle-probe" --simulate read
cc "$source/tests/tools/consumer/consumer.c" -o "$scratch/consumer" \
  $(PKG_CONFIG_PATH="$root/usr/lib/x86_64-linux-gnu/pkgconfig" pkg-config --cflags --libs vostrelle) \
  >"$scratch/cc.log" 2>&1
check "a consumer builds against the installed -dev package" test $? -eq 0
start_reading consumer-run "ea(0) 321" "$root/usr/bin/vostrelle-sim" --input 0=321 --run -- env \
  LD_LIBRARY_PATH="$root/usr/lib/x86_64-linux-gnu" "$scratch/consumer"
# A student's first line, with the library found by its name alone.
start_reading python-first-line "^3\.19648" "$root/usr/bin/vostrelle-sim" --input 0=654 --run -- env \
  PYTHONPATH="$root/usr/lib/python3/dist-packages" LD_LIBRARY_PATH="$root/usr/lib/x86_64-linux-gnu" \
  /usr/bin/python3 -c "import vostrelle; print(vostrelle.Board().inputs[0].volts())"
# The installed panel, as a new user starts it: a link, and the page behind it.
panel_page() {
  timeout 20 "$root/usr/bin/vostrelle-panel" --simulate --port 0 >"$scratch/panel-out" 2>&1 &
  wait_for grep -q token= "$scratch/panel-out" || wait_for grep -q token= "$scratch/panel-out"
  curl -s -L -c "$scratch/panel-cookie" -b "$scratch/panel-cookie" \
    "$(grep -o 'http://[^ ]*token=[0-9a-f]*' "$scratch/panel-out")"
  kill %1
}
start panel panel_page
finish_started
check "the installed panel prints its link and serves the page" has panel "<title>Vostrelle panel</title>"
check "the installed probe starts" has version "^vostrelle-probe 1\."
check "and loads the installed library" has info "library: $root/usr/bin/../lib/x86_64-linux-gnu/libvostrelle.so.1"
check "and reads the simulated board" test "$(count_of read '^ +[0-7]  EA[0-7]')" -eq 8
check "the consumer reads the board" has consumer-run "ea(0) 321"
check "the installed Python package reads a voltage" has python-first-line "^3\.19648"
summary
