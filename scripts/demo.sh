#!/usr/bin/env bash
# Installs what is missing, builds the viewer and devsim (nothing else), starts the test device devsim
# on 127.0.0.1 and the viewer H264Video with the launch string devsim prints.
#
# With a display the viewer window opens there; close it to end the demo.
# Without one, both run on a private virtual X server (Xvfb) for DEMO_SECONDS
# (default 20) seconds; the script types a few keys into the viewer and saves
# a screenshot of the virtual screen, so you can see that it worked.
#
# Everything the demo writes goes to $BUILD_DIR/demo/: the screenshot
# (viewer.png, and the viewer's window alone in viewer-window.png), devsim's events
# file and output, the viewer's output.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DEMO_NO_BUILD:-}" ]; then  # DEMO_NO_BUILD=1 uses the existing build
  bash scripts/install_deps.sh
  BUILD_TARGETS="H264Video devsim" bash scripts/build.sh
fi
BUILD_DIR=${BUILD_DIR:-build}
BIN=$(cd "$BUILD_DIR/bin" && pwd)
OUT=$(mkdir -p "$BUILD_DIR/demo" && cd "$BUILD_DIR/demo" && pwd)
SECONDS_TO_RUN=${DEMO_SECONDS:-20}

DEVSIM_PID=""
VIEWER_PID=""
XVFB_PID=""
cleanup() {
  # Only what this script started, by process id.
  for pid in "$VIEWER_PID" "$DEVSIM_PID" "$XVFB_PID"; do
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill -INT "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -KILL "$pid" 2>/dev/null || true
    fi
  done
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# waits up to $1 tenths of a second for the command in the other arguments
wait_until() {
  local tenths=$1; shift
  for _ in $(seq "$tenths"); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# --- the device ---------------------------------------------------------------
# Ports chosen by the system, so a second demo or a test run never collides.
rm -f "$OUT/devsim.out"
(cd "$OUT" && exec "$BIN/devsim" --ports 0 --no-stdin --events devsim-events.jsonl \
   --media-out devsim-media.img </dev/null >devsim.out 2>devsim.err) &
DEVSIM_PID=$!
if ! wait_until 200 grep -q "control" "$OUT/devsim.out" 2>/dev/null; then
  echo "devsim did not start:" >&2
  cat "$OUT/devsim.err" >&2 || true
  exit 1
fi
LAUNCH=$(head -n 1 "$OUT/devsim.out")
CONTROL=$(sed -n 's/.*control \([0-9]*\).*/\1/p' "$OUT/devsim.out" | head -n 1)
echo "devsim is running (process $DEVSIM_PID): $(sed -n 2p "$OUT/devsim.out")"

# One command to devsim's control port; prints its reply line.
devsim_cmd() {
  local reply=""
  exec 5<>"/dev/tcp/127.0.0.1/$CONTROL" || return 1
  printf '%s\n' "$1" >&5
  read -r -t 5 reply <&5 || true
  exec 5>&- 5<&-
  printf '%s\n' "$reply"
}
status_field() { devsim_cmd status | sed -n "s/.*\"$1\":\\([^,}]*\\).*/\\1/p"; }

echo "Starting the viewer with the launch string devsim printed:"
echo "  $BIN/H264Video $LAUNCH"

# --- with a display: the window opens there -----------------------------------
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "Close the viewer window to end the demo."
  (cd "$OUT" && exec "$BIN/H264Video" "$LAUNCH") &
  VIEWER_PID=$!
  set +e
  wait "$VIEWER_PID"
  rc=$?
  set -e
  VIEWER_PID=""
  devsim_cmd quit >/dev/null || true
  echo "The viewer ended with exit code $rc. devsim's events: $OUT/devsim-events.jsonl"
  exit "$rc"
fi

# --- without a display: a private virtual X server ----------------------------
echo "No display found (DISPLAY is not set): running the viewer on a virtual X server"
echo "(Xvfb) for ${SECONDS_TO_RUN} seconds. A screenshot is saved at the end."
rm -f "$OUT/xvfb.display"
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$OUT/xvfb.display" 2>"$OUT/xvfb.err" &
XVFB_PID=$!
if ! wait_until 100 test -s "$OUT/xvfb.display"; then
  echo "Xvfb did not start:" >&2
  cat "$OUT/xvfb.err" >&2 || true
  exit 1
fi
export DISPLAY=":$(head -n 1 "$OUT/xvfb.display")"

(cd "$OUT" && exec "$BIN/H264Video" "$LAUNCH") >"$OUT/viewer.out" 2>&1 &
VIEWER_PID=$!
START=$(date +%s)

viewer_window() { xdotool search --name "Orvane" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(viewer_window)" ]; }
viewer_connected() {
  local s
  s=$(devsim_cmd status)
  [[ $s == *'"km":true'* && $s =~ \"pictures\":[1-9] ]]
}

if wait_until 150 has_window; then
  echo "The viewer window is open on the virtual screen $DISPLAY."
  # Type into the viewer: the keys travel over the KM channel to devsim,
  # whose desktop shows them in its "typed" box.
  if wait_until 100 viewer_connected; then
    WIN=$(viewer_window)
    xdotool windowactivate --sync "$WIN" 2>/dev/null || xdotool windowfocus "$WIN" 2>/dev/null || true
    xdotool mousemove --window "$WIN" 400 300 2>/dev/null || true
    xdotool type --delay 120 "Hello devsim" 2>/dev/null || true
  fi
else
  echo "The viewer window did not appear within 15 seconds; see $OUT/viewer.out."
fi

# Let it run for the rest of the time, unless the viewer ends first.
while kill -0 "$VIEWER_PID" 2>/dev/null && [ $(( $(date +%s) - START )) -lt "$SECONDS_TO_RUN" ]; do
  sleep 0.5
done

if kill -0 "$VIEWER_PID" 2>/dev/null; then
  import -display "$DISPLAY" -window root "$OUT/viewer.png"
  WIN=$(viewer_window)
  if [ -n "$WIN" ]; then
    import -display "$DISPLAY" -window "$WIN" "$OUT/viewer-window.png" 2>/dev/null || true
  fi
  echo "Screenshot of the viewer: $OUT/viewer.png"
  rc=0
else
  set +e
  wait "$VIEWER_PID"
  rc=$?
  set -e
  VIEWER_PID=""
  echo "The viewer ended by itself with exit code $rc; see $OUT/viewer.out."
fi

echo "devsim saw: pictures sent $(status_field pictures), KM messages $(status_field kmReceived),"\
     "typed text $(status_field typed)"
echo "Every message the viewer sent is in $OUT/devsim-events.jsonl"
devsim_cmd quit >/dev/null || true
exit "$rc"
