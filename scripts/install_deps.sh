#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the viewer and the tests need,
# only those that are missing. Run as root.
set -euo pipefail
PKGS=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-5compat-dev libgl-dev
  libavcodec-dev libavutil-dev libswscale-dev
  libtinyxml2-dev
  libgtest-dev libgmock-dev
  libx11-dev libxtst-dev libxext-dev
  xvfb xauth xdotool x11-utils x11-xserver-utils
  libssl-dev dosfstools mtools
  imagemagick
  ffmpeg
)
missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
