#!/usr/bin/env bash
# Makes docs/viewer.png, the README's picture of the viewer showing devsim's
# desktop: runs the demo on a private virtual X server (never on your own
# display) and keeps the screenshot of the viewer's window.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
if [ ! -x "$BUILD_DIR/bin/H264Video" ] || [ ! -x "$BUILD_DIR/bin/devsim" ]; then
  bash scripts/install_deps.sh
  BUILD_TARGETS="H264Video devsim" bash scripts/build.sh
fi
rm -f "$BUILD_DIR/demo/viewer-window.png"
env -u DISPLAY -u WAYLAND_DISPLAY DEMO_NO_BUILD=1 DEMO_SECONDS="${DEMO_SECONDS:-8}" \
  BUILD_DIR="$BUILD_DIR" bash scripts/demo.sh
if [ ! -s "$BUILD_DIR/demo/viewer-window.png" ]; then
  echo "The demo saved no picture of the viewer's window." >&2
  exit 1
fi
mkdir -p docs
cp "$BUILD_DIR/demo/viewer-window.png" docs/viewer.png
echo "docs/viewer.png"
