#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages as the distribution would, with dpkg-buildpackage
# and debhelper (debian/), into $BUILD_DIR/package:
#   h264video_<version>_<arch>.deb         the viewer, desktop entry, icon,
#                                          AppStream data, catalogues, man page
#   h264video-devsim_<version>_<arch>.deb  the test device
#   and a -dbgsym package of each (the debug symbols).
# The sources (tracked files and new ones git does not ignore) are copied to
# $BUILD_DIR/package/src first, so the checkout stays as it was; the build's
# git revision goes in with them. Two runs give byte-identical packages
# (SOURCE_DATE_EPOCH comes from debian/changelog). Then lintian checks both
# packages and fails on any error or warning. Install with
#   sudo apt-get install ./build/package/h264video_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
BUILD_DIR=${BUILD_DIR:-build}
OUT=$(realpath -m "$BUILD_DIR/package")
version=$(dpkg-parsechangelog -S Version)
SRC="$OUT/src/h264video-$version"

rm -rf "$OUT"
mkdir -p "$SRC"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  export KVM_GIT_REVISION=${KVM_GIT_REVISION:-$(git describe --always --dirty --abbrev=12)}
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$SRC"
else
  tar --exclude="./$BUILD_DIR" --exclude='./build*' --exclude='./obj-*' -cf - . | tar -xf - -C "$SRC"
fi

# A compiler cache, when the machine has one, makes the second build cheap;
# debhelper gives the build a HOME of its own, so the cache is named here.
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
  export CCACHE_DIR
fi

(cd "$SRC" && dpkg-buildpackage -us -uc -b) > "$OUT/build.log" 2>&1 || {
  tail -40 "$OUT/build.log" >&2
  echo "dpkg-buildpackage failed; the whole log is $OUT/build.log" >&2
  exit 1
}
tail -6 "$OUT/build.log"
mv "$OUT"/src/*.deb "$OUT"/src/*.buildinfo "$OUT"/src/*.changes "$OUT"/
rm -rf "$OUT/src"

for deb in "$OUT"/*.deb; do
  echo "$deb"
  dpkg-deb -f "$deb" Package Version Depends Recommends | sed 's/^/  /'
done
if command -v lintian >/dev/null 2>&1; then
  # Every tag, informational ones too; only errors and warnings fail.
  lintian --display-info --fail-on error,warning "$OUT"/*.deb
  echo "lintian: no errors, no warnings"
fi
