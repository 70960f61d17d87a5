#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (as root). Does
# nothing when everything is already there.
set -euo pipefail

packages=(
  cmake make g++ g++-i686-linux-gnu libc6-i386 qemu-user googletest libcli11-dev
  python3 python3-serial gnuplot-nox valgrind clang libclang-rt-14-dev
  cppcheck clang-tidy tmux file pkg-config dpkg-dev patchelf
  g++-aarch64-linux-gnu g++-arm-linux-gnueabihf lintian help2man
  python3-pytest python3-numpy python3-matplotlib python3-venv python3-pip
  libboost-dev chromium curl iproute2 libtomlplusplus-dev
  mosquitto mosquitto-clients libmosquitto-dev openssl
  prometheus
)
# Node.js and npm for the panel's chart library and its browser test; a
# machine may have them from elsewhere already.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)

# The bridge's library for each target the tools are built for: Debian's
# multiarch development packages, once dpkg knows those architectures.
foreign_arches=(i386 arm64 armhf)
for arch in "${foreign_arches[@]}"; do
  packages+=("libmosquitto-dev:$arch")
done
new_arches=()
for arch in "${foreign_arches[@]}"; do
  dpkg --print-foreign-architectures | grep -qx "$arch" || new_arches+=("$arch")
done

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "error: run as root (or install these packages): ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  for arch in "${new_arches[@]}"; do
    dpkg --add-architecture "$arch"
  done
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The metrics test starts a Prometheus of its own: the package's service
# stays stopped and off.
if [[ " ${missing[*]} " == *" prometheus "* ]]; then
  if [ -d /run/systemd/system ]; then systemctl disable --now prometheus; else systemctl disable prometheus; fi || true
  service prometheus stop >/dev/null 2>&1 || true
fi

# uPlot (built into vostrelle-panel) and puppeteer-core (its browser test),
# at the versions in tools/panel/package-lock.json.
panel=$(cd "$(dirname "$0")/../tools/panel" && pwd)
installed=$panel/node_modules/.installed-from-package-lock.json
if ! cmp -s "$panel/package-lock.json" "$installed" 2>/dev/null; then
  echo "Installing the panel's npm packages in $panel/node_modules"
  npm ci --prefix "$panel" --no-audit --no-fund --loglevel=error
  cp "$panel/package-lock.json" "$installed"
fi
