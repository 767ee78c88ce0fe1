#!/usr/bin/env bash
# cmake --install into a temporary prefix: every file is where the desktop
# expects it, the desktop entry and AppStream data pass their validators, the
# man pages render without warnings, and devsim is a component of its own.
# Argument: the build directory.
set -euo pipefail
BUILD=$1
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
fail=0
check() { if ! "$@"; then echo "FAILED: $*" >&2; fail=1; fi; }

cmake --install "$BUILD" --prefix "$TMP/all" >/dev/null
ID=io.github.h264video.H264Video
(cd "$TMP/all" && find . -type f | sort) > "$TMP/all.txt"
cat "$TMP/all.txt"
expected="./bin/H264Video
./bin/devsim
./bin/h264video-ctl
./share/applications/$ID.desktop
./share/icons/hicolor/scalable/apps/$ID.svg
./share/man/man1/H264Video.1
./share/man/man1/devsim.1
./share/man/man1/h264video-ctl.1
./share/metainfo/$ID.metainfo.xml"
check diff <(echo "$expected") "$TMP/all.txt"
check test -x "$TMP/all/bin/H264Video"
check desktop-file-validate "$TMP/all/share/applications/$ID.desktop"
if command -v appstreamcli >/dev/null; then
  check appstreamcli validate --no-net "$TMP/all/share/metainfo/$ID.metainfo.xml"
fi
# The desktop entry's command is the installed program.
exec_cmd=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$TMP/all/share/applications/$ID.desktop")
check test -x "$TMP/all/bin/$exec_cmd"
for page in H264Video devsim h264video-ctl; do
  warnings=$(MANWIDTH=80 man -l "$TMP/all/share/man/man1/$page.1" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then echo "man $page: $warnings" >&2; fail=1; fi
  check test "$(MANWIDTH=80 man -l "$TMP/all/share/man/man1/$page.1" 2>/dev/null | wc -l)" -gt 20
done
# The installed viewer runs (its libraries resolve) and answers --help.
check "$TMP/all/bin/H264Video" --help >/dev/null
check "$TMP/all/bin/h264video-ctl" --help >/dev/null

# The test device alone.
cmake --install "$BUILD" --prefix "$TMP/dev" --component devsim >/dev/null
check diff <(printf './bin/devsim\n./share/man/man1/devsim.1\n') <(cd "$TMP/dev" && find . -type f | sort)
exit $fail
