#!/usr/bin/env bash
# Regenerates the seed corpora in fuzz/corpus from the test device (video, KM
# and media traffic captured on loopback, its launch string) and from the
# program's own key and config file writers. Run from anywhere; builds the
# seed maker in $BUILD_DIR (default build-seeds).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-seeds}
cmake -S "$root" -B "$build" -DKVM_BUILD_BENCH=OFF -DKVM_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_make_seeds >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$build/bin/fuzz_make_seeds" "$out" 2>"$out.log" || { cat "$out.log" >&2; rm -f "$out.log"; exit 1; }
rm -f "$out.log"
for dir in "$out"/*/; do
  target=$(basename "$dir")
  mkdir -p "$root/fuzz/corpus/$target"
  cp "$dir"/* "$root/fuzz/corpus/$target/"
done
du -sh "$root/fuzz/corpus"
