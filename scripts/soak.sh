#!/usr/bin/env bash
# Soak run of the viewer (not part of CI): a 1920x1080 devsim stream with
# continuous typing and pointer movement and a virtual media loop (devsim
# writes runs of sectors to the mapped disk image and reads them back) for
# MINUTES (default 10). Reports the viewer's resident memory after the first
# minute, the keyboard reports and text devsim received against what was
# typed, the media rounds and whether the image is byte-correct; exit code 0
# when every check holds.
#
#   scripts/soak.sh [MINUTES] [--keep]     (--keep leaves the run's directory)
#
# Needs Xvfb and xdotool (scripts/install_deps.sh). BUILD_DIR picks the build
# directory (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
MINUTES=10
if [[ $# -gt 0 && $1 =~ ^[0-9]+([.][0-9]+)?$ ]]; then
    MINUTES=$1
    shift
fi
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target kvm_soak H264Video devsim >/dev/null
exec "$BUILD_DIR/bin/kvm_soak" --minutes "$MINUTES" "$@"
