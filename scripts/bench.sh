#!/usr/bin/env bash
# Builds the benchmark programs (bench/), runs each of them and prints one
# table of their figures. Every benchmark runs the viewer's path and its
# reference in the same process, interleaved, and reports medians; the
# machines are shared, so compare ratios rather than single absolute times.
#
#   bash scripts/bench.sh                 # all benchmarks into ./build
#   BENCH_ROUNDS=7 bash scripts/bench.sh  # more rounds where a benchmark has rounds
#   bash scripts/bench.sh render km       # only those whose name contains a word
#
# Progress goes to standard error and the table to standard output; each
# benchmark's own notes (every round's figures) are kept in $BENCH_LOG_DIR
# when that is set. Needs no display (the GUI runs offscreen) and uses only
# 127.0.0.1. Exit status 1 when a benchmark failed to run; goals not met are
# shown in the table, not in the exit status.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
export QT_QPA_PLATFORM=offscreen

BENCHES=(bench_video_pipeline bench_render bench_km_latency bench_media_throughput bench_viewer_1080p bench_viewer_cost bench_reconnect bench_bus_roundtrip)
if [ $# -gt 0 ]; then
  picked=()
  for b in "${BENCHES[@]}"; do
    for word in "$@"; do
      if [[ $b == *"$word"* ]]; then picked+=("$b"); break; fi
    done
  done
  BENCHES=("${picked[@]}")
fi

echo "Building ${BENCHES[*]} in $BUILD_DIR ..." >&2
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} -DKVM_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target "${BENCHES[@]}" devsim >&2

BIN=$(cd "$BUILD_DIR/bin" && pwd)
rows=$(mktemp)
work=$(mktemp -d)
trap 'rm -rf "$rows" "$work"' EXIT
failed=0
for b in "${BENCHES[@]}"; do
  echo "Running $b ..." >&2
  # Each benchmark runs in a scratch directory (the window keeps its files
  # beside the executable, devsim writes its media image where it runs).
  if ! (cd "$work" && "$BIN/$b") > "$work/$b.out" 2> "$work/$b.err"; then
    echo "$b failed; its last lines:" >&2
    tail -n 15 "$work/$b.err" >&2
    failed=1
  fi
  grep '^BENCH|' "$work/$b.out" >> "$rows" || true
  if [ -n "${BENCH_LOG_DIR:-}" ]; then
    mkdir -p "$BENCH_LOG_DIR"
    cp "$work/$b.out" "$work/$b.err" "$BENCH_LOG_DIR/"
  fi
done

cpu=$(lscpu | sed -n 's/^Model name:[[:space:]]*//p' | head -n 1)
echo "Machine: ${cpu:-unknown CPU}, $(nproc) cores; $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "| Benchmark | Figure | Viewer | Reference | Ratio | Goal | Met |"
echo "|---|---|---:|---:|---:|---|---|"
while IFS='|' read -r _ bench figure viewer reference ratio goal met; do
  echo "| $bench | $figure | $viewer | $reference | $ratio | $goal | $met |"
done < "$rows"
exit $failed
