#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Tellwick needs.
# Idempotent: when everything is present it installs nothing and prints nothing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  libpcre2-dev libexpat1-dev libasio-dev libsystemd-dev libsodium-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libxcb1-dev
  xvfb xauth xdotool x11-utils imagemagick
  openbox wmctrl weston xwayland qt6-wayland
  fonts-liberation fonts-dejavu-core
  iproute2 nftables iptables
  dpkg-dev file man-db lintian devscripts appstream desktop-file-utils mandoc
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) != *"install ok installed"* ]]; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}"
$SUDO apt-get -qq -o DPkg::Lock::Timeout=600 update >/dev/null
$SUDO apt-get -qq -y -o DPkg::Lock::Timeout=600 install --no-install-recommends "${missing[@]}" >/dev/null
