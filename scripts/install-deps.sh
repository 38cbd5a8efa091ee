#!/usr/bin/env bash
# Installs every system package that building, testing and running Corvalis needs
# on a fresh Debian 12 machine. This file is the single list; nothing else installs.
set -euo pipefail

PACKAGES=(
  # toolchain and test frameworks
  g++ clang clang-tidy cmake make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev
  # toolkit and image formats
  qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libgl-dev libxkbcommon-dev
  # codecs and storage
  libturbojpeg0-dev libpng-dev libspng-dev libsqlite3-dev sqlite3
  libdeflate-dev libisal-dev libavif-dev
  # compressed archive directories and vector tiles
  zlib1g-dev libzstd-dev libbrotli-dev libprotozero-dev
  # sample store source picture
  xplanet-images
  # real-window tests
  xvfb xdotool x11-utils xauth
  # desktop integration checks and the Debian package
  desktop-file-utils shared-mime-info dpkg-dev file lintian appstream librsvg2-bin
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
