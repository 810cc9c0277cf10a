#!/usr/bin/env bash
# Installs every Debian package the project builds, tests and runs with.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  libarchive-dev liblzma-dev zlib1g-dev libcurl4-openssl-dev libsqlite3-dev libsodium-dev
  libgtest-dev googletest minisign openssl
  7zip
  desktop-file-utils xdg-utils shared-mime-info gtk-update-icon-cache fonts-wqy-microhei
  xvfb xauth x11-utils xdotool
  weston qt6-wayland
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
