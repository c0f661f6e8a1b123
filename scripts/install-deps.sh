#!/usr/bin/env bash
# Installs the Debian 12 packages the console, its tests and its tools need,
# skipping what is already there.
set -euo pipefail
pkgs=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-charts-dev libqt6opengl6-dev libqt6sql6-sqlite libqt6sql6-psql libgl-dev
  libsqlite3-dev libpq-dev postgresql
  llvm-14 lld-14 clang-14 libclang-rt-14-dev binutils
  xvfb xauth imagemagick poppler-utils python3 fonts-dejavu-core fonts-liberation2
  dpkg-dev lintian desktop-file-utils appstream librsvg2-bin
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
