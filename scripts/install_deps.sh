#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the viewer and the tests need,
# only those that are missing. Needs root only when something is missing;
# as an ordinary user it names what is missing and how to install it.
set -euo pipefail
PKGS=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-5compat-dev libgl-dev
  libavcodec-dev libavutil-dev libswscale-dev
  libavformat-dev ffmpeg
  libtinyxml2-dev
  libgtest-dev libgmock-dev
  libx11-dev libxtst-dev libxext-dev libxcb1-dev
  xvfb xauth xdotool x11-utils x11-xserver-utils
  libxkbcommon-dev xkb-data x11-xkb-utils xclip
  libssl-dev dosfstools mtools
  dbus
  imagemagick
  desktop-file-utils appstream man-db groff-base dpkg-dev file
  qt6-wayland qt6-base-private-dev wayland-protocols libwayland-dev libwayland-bin
  sway wtype grim xwayland
  qt6-tools-dev qt6-l10n-tools
  debhelper lintian
)
missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "These Debian packages are missing: ${missing[*]}" >&2
  echo "Install them as root, then run this command again:" >&2
  echo "  sudo apt-get install --no-install-recommends ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
