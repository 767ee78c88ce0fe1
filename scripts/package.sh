#!/usr/bin/env bash
# Builds the viewer and devsim (nothing else) and makes the Debian packages
# with CPack: $BUILD_DIR/package/h264video_<version>_<arch>.deb (the viewer,
# its desktop entry, icon, AppStream data and man page) and
# h264video-devsim_<version>_<arch>.deb (the test device). The runtime
# dependencies come from dpkg-shlibdeps. Install with
#   sudo apt-get install ./build/package/h264video_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
BUILD_DIR=${BUILD_DIR:-build}
BUILD_TARGETS="H264Video devsim" bash scripts/build.sh
mkdir -p "$BUILD_DIR/package"
(cd "$BUILD_DIR" && cpack -G DEB -B "$PWD/package" >/dev/null)
rm -rf "$BUILD_DIR/package/_CPack_Packages"
for deb in "$BUILD_DIR"/package/*.deb; do
  echo "$deb"
  dpkg-deb -f "$deb" Package Version Depends | sed 's/^/  /'
done
