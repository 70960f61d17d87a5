#!/usr/bin/env bash
# Builds the Debian packages libvostrelle1, libvostrelle-dev and
# vostrelle-tools for each architecture (default: i386 amd64 arm64 armhf),
# and python3-vostrelle for all, from the install rules' components, into
# build/packages.
# Usage: scripts/package.sh [ARCH...]
set -euo pipefail
cd "$(dirname "$0")/.."
# The version is the project's (CMakeLists.txt); the changelog's top entry
# gives the Debian revision and is written with it.
upstream=$(sed -n 's/^project(vostrelle VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
version=$upstream-$(sed -n 's/^vostrelle (@UPSTREAM@-\([0-9]*\)).*/\1/p' packaging/debian/changelog | head -1)
out=build/packages
arches=("$@")
((${#arches[@]})) || arches=(i386 amd64 arm64 armhf)
mkdir -p "$out"

build() { # build PRESET: the library and the tools
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" --target vostrelle vostrelle-probe vostrelle-sim vostrelle-panel >/dev/null
  # The bridge where this machine has libmosquitto for the target.
  if grep -q '^VOSTRELLE_MOSQUITTO:FILEPATH=/' "build/$1/CMakeCache.txt"; then
    cmake --build --preset "$1" --target vostrelle-mqtt >/dev/null
  fi
}

# The man pages come from the tools' own --help, on a build this machine runs.
build amd64
man=$(mktemp -d)
trap 'rm -rf "$man"' EXIT
for program in tools/vostrelle-probe tools/vostrelle-sim tools/panel/vostrelle-panel tools/mqtt/vostrelle-mqtt; do
  tool=${program##*/}
  help2man --no-info --no-discard-stderr --section=1 --name="$(sed -n 's/^[^:]*: \(.*\)\..*$/\1/p;q' \
    <(build/amd64/$program --help))" "build/amd64/$program" >"$man/$tool.1"
  gzip -9n "$man/$tool.1"
done

# The oldest C library version the files ask for: libc6 (>= X.Y).
libc_dependency() {
  local files=("$@")
  readelf -V --wide "${files[@]}" | grep -o 'Name: GLIBC_[0-9.]*' | sed 's/.*GLIBC_//' |
    sort -t. -k1,1n -k2,2n | tail -1 | sed 's/^/libc6 (>= /; s/$/)/'
}

# The symbols file: every exported function, present since this version.
symbols_file() {
  local library=$1
  echo "libvostrelle.so.1 libvostrelle1 #MINVER#"
  echo "* Build-Depends-Package: libvostrelle-dev"
  readelf --dyn-syms --wide "$library" | awk '$4 == "FUNC" && $5 == "GLOBAL" && $7 != "UND" { print $8 }' |
    sed 's/@.*//' | sort | sed "s/.*/ &@Base $upstream/"
}

# package NAME ARCH TREE: documentation, control files, then the .deb.
package() {
  local name=$1 arch=$2 tree=$3 libc=${4:-}
  local doc=$tree/usr/share/doc/$name
  mkdir -p "$doc" "$tree/DEBIAN"
  install -m 644 packaging/debian/copyright "$doc/copyright"
  sed "s/@UPSTREAM@/$upstream/" packaging/debian/changelog | gzip -9n >"$doc/changelog.Debian.gz"
  chmod 644 "$doc/changelog.Debian.gz"
  install -D -m 644 packaging/debian/lintian-overrides "$tree/usr/share/lintian/overrides/$name"
  local size
  size=$(du -sk --exclude=DEBIAN "$tree" | cut -f1)
  sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" -e "s/@LIBC@/$libc/" -e "s/@UPSTREAM@/$upstream/" \
    "packaging/debian/control.$name" >"$tree/DEBIAN/control"
  (cd "$tree" && find usr -type f -printf '%P\n' | sort | sed 's|^|usr/|' | xargs md5sum) >"$tree/DEBIAN/md5sums"
  if [ -d "$tree/lib" ]; then
    (cd "$tree" && find lib -type f | sort | xargs md5sum) >>"$tree/DEBIAN/md5sums"
  fi
  if [ -d "$tree/etc" ]; then # configuration the administrator edits: kept on upgrade
    (cd "$tree" && find etc -type f | sort | sed 's|^|/|') >"$tree/DEBIAN/conffiles"
  fi
  find "$tree" -type d -exec chmod 755 {} +
  chmod 644 "$tree/DEBIAN"/*
  dpkg-deb --root-owner-group -Zxz --build "$tree" "$out/${name}_${version}_$arch.deb" >/dev/null
  echo "$out/${name}_${version}_$arch.deb"
}

for arch in "${arches[@]}"; do
  build "$arch"
  stage=$(mktemp -d)
  for component in library development tools; do
    DESTDIR="$stage/$component" cmake --install "build/$arch" --prefix /usr --component $component --strip >/dev/null
  done
  library=$(find "$stage/library" -name 'libvostrelle.so.1.*')
  libc=$(libc_dependency "$library")
  mkdir -p "$stage/library/DEBIAN"
  cp packaging/debian/triggers "$stage/library/DEBIAN/"
  sed "s/@UPSTREAM@/$upstream/" packaging/debian/shlibs >"$stage/library/DEBIAN/shlibs"
  symbols_file "$library" >"$stage/library/DEBIAN/symbols"
  package libvostrelle1 "$arch" "$stage/library" "$libc"
  package libvostrelle-dev "$arch" "$stage/development"
  mkdir -p "$stage/tools/usr/share/man/man1"
  for program in "$stage/tools/usr/bin/"*; do
    install -m 644 "$man/${program##*/}.1.gz" "$stage/tools/usr/share/man/man1/"
  done
  depends=$(libc_dependency "$stage/tools/usr/bin/"*)
  [ ! -e "$stage/tools/usr/bin/vostrelle-mqtt" ] || depends+=", libmosquitto1"
  package vostrelle-tools "$arch" "$stage/tools" "$depends"
  rm -rf "$stage"
done

# Pure Python: one package for every architecture.
stage=$(mktemp -d)
DESTDIR="$stage" cmake --install build/amd64 --prefix /usr --component python >/dev/null
package python3-vostrelle all "$stage"
rm -rf "$stage"
