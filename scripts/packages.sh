#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need.
# Idempotent: does nothing when everything is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang-format clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-psql postgresql qt6-qpa-plugins libgl-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-tools
  gstreamer1.0-x gstreamer1.0-alsa gstreamer1.0-pulseaudio
  libturbojpeg0-dev libcpp-httplib-dev libsodium-dev libssl-dev zlib1g-dev
  xvfb xauth fonts-dejavu-core libxcb1-dev
  librsvg2-bin desktop-file-utils appstream dpkg-dev man-db systemd curl
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
