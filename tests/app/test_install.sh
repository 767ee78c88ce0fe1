#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# First, cmake --install into a temporary prefix: every file is where the
# desktop expects it, the desktop entry and AppStream data pass their
# validators, the man pages render without warnings, devsim is a component of
# its own.
# Then the Debian packages as a user gets them: scripts/package.sh builds
# them with dpkg-buildpackage and lintian must report no error or warning;
# they install with apt-get, the installed viewer runs as an ordinary user
# under Xvfb against the installed devsim, and apt-get removes them again.
# That half needs root (it installs packages); without root, or with h264video
# already installed (not this test's to remove), it is skipped with the reason.
# Arguments: the build directory, the source directory.
set -euo pipefail
BUILD=$1
SRCDIR=$2
TMP=$(mktemp -d)
pids=()
installed=0
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  if [ "$installed" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq h264video h264video-devsim >/dev/null 2>&1 || true
  fi
  rm -rf "$TMP"
}
trap cleanup EXIT
fail=0
check() { if ! "$@"; then echo "FAILED: $*" >&2; fail=1; fi; }
# wait_for SECONDS COMMAND...: polls until the command succeeds.
wait_for() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.2
  done
}

cmake --install "$BUILD" --prefix "$TMP/all" >/dev/null
ID=io.github.h264video.H264Video
(cd "$TMP/all" && find . -type f | sort) > "$TMP/all.txt"
cat "$TMP/all.txt"
expected="./bin/H264Video
./bin/devsim
./bin/h264video-ctl
./share/applications/$ID.desktop
./share/h264video/translations/h264video_en.qm
./share/h264video/translations/h264video_zh_CN.qm
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
[ "$fail" = 0 ] || exit 1

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED the Debian package part: installing packages needs root"
  exit 77
fi
if dpkg-query -W -f='${Status}' h264video 2>/dev/null | grep -q 'install ok installed'; then
  echo "SKIPPED the Debian package part: h264video is already installed on this machine"
  exit 77
fi

# Build (dpkg-buildpackage) and lintian, both inside package.sh.
start=$SECONDS
BUILD_DIR="$BUILD" bash "$SRCDIR/scripts/package.sh"
echo "package.sh took $((SECONDS - start)) s"
PKG="$BUILD/package"
viewer_deb=$(ls "$PKG"/h264video_*.deb)
devsim_deb=$(ls "$PKG"/h264video-devsim_*.deb)
check test -n "$(ls "$PKG"/h264video-dbgsym_*.deb)"
# Hardened: BIND_NOW and full RELRO, PIE, stack protector, FORTIFY.
dpkg-deb -x "$viewer_deb" "$TMP/unpacked"
dyn=$(readelf -d "$TMP/unpacked/usr/bin/H264Video")
check grep -q 'BIND_NOW' <<<"$dyn"
check grep -q 'PIE' <<<"$dyn"
syms=$(readelf --dyn-syms -W "$TMP/unpacked/usr/bin/H264Video")
check grep -q '__stack_chk_fail' <<<"$syms"
check grep -q '_chk@' <<<"$syms"
check test -f "$TMP/unpacked/usr/share/man/man1/H264Video.1.gz"
check test -f "$TMP/unpacked/usr/share/doc/h264video/copyright"

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$viewer_deb" "$devsim_deb" >"$TMP/apt.log" 2>&1 ||
  { cat "$TMP/apt.log" >&2; exit 1; }
installed=1
check test -x /usr/bin/H264Video
check test -f /usr/share/h264video/translations/h264video_zh_CN.qm

# An ordinary user (nobody) with a home of its own; its X server is private.
USER_ID=65534
HOME_DIR="$TMP/home"
mkdir -p "$HOME_DIR"
chown "$USER_ID:$USER_ID" "$HOME_DIR"
chmod 711 "$TMP"
# Replaces the calling (sub)shell, so that $! of "(as_user ...) &" is the program's own pid.
as_user() {
  exec env -i PATH=/usr/bin:/bin HOME="$HOME_DIR" LANG=C.UTF-8 DISPLAY=":$display" \
    setpriv --reuid=$USER_ID --regid=$USER_ID --clear-groups "$@"
}
display=$((100 + RANDOM % 400))
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$TMP/xvfb.log" 2>&1 &
pids+=($!)
check wait_for 30 test -S "/tmp/.X11-unix/X$display"

(as_user /usr/bin/devsim --ports 0 --no-stdin --size 320x240 --fps 10 --events "$HOME_DIR/events.jsonl" \
  --media-out "$HOME_DIR/media.img" >"$TMP/devsim.out" 2>"$TMP/devsim.err") &
pids+=($!)
check wait_for 30 grep -q '%7B' "$TMP/devsim.out"
launch=$(head -1 "$TMP/devsim.out")
# The launch string on standard input, as a launcher that keeps keys out of ps does.
printf '%s\n' "$launch" >"$TMP/launch"
(as_user /usr/bin/H264Video - <"$TMP/launch" >"$TMP/viewer.out" 2>"$TMP/viewer.err") &
viewer=$!
pids+=($viewer)
# The session is up: the viewer identified itself on the KM and video channels.
userid_on() { grep "\"channel\":\"$1\"" "$HOME_DIR/events.jsonl" 2>/dev/null | grep -q '"name":"userid"'; }
check wait_for 60 userid_on km
check wait_for 60 userid_on video
check wait_for 30 bash -c "DISPLAY=:$display xwininfo -root -tree | grep -q 'Orvane V2.1'"
kill -TERM "$viewer"
rc=0
wait "$viewer" || rc=$?
check test "$rc" = 0
# The installed viewer keeps its files in the user's XDG directories.
check test -d "$HOME_DIR/.config/h264video"
check test -n "$(ls "$HOME_DIR/.local/state/h264video/log/" 2>/dev/null)"
if [ "$fail" != 0 ]; then
  echo "--- viewer's standard error"; cat "$TMP/viewer.err"
  echo "--- devsim's standard error"; cat "$TMP/devsim.err"
fi

DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq h264video h264video-devsim >/dev/null
installed=0
check test ! -e /usr/bin/H264Video
check test ! -e /usr/bin/devsim
exit $fail
