#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each for the given time, one after the other.
#
#   scripts/fuzz.sh [seconds per target, default 600] [target ...]
#
# Targets: fuzz_frame_cutter fuzz_video_path fuzz_media_handler fuzz_launch_string
#          fuzz_key_xml fuzz_config_xml (all when none is named).
# Environment: BUILD_DIR (default build-fuzz), JOBS (targets run at once, default 1).
#
# Each target starts from its committed seeds (fuzz/corpus/<target>) plus what
# earlier runs found (<build>/corpus/<target>). A crash or broken invariant
# leaves its input in <build>/artifacts/<target>/; once fixed, copy it into
# fuzz/regress/<target>/ so ctest replays it from then on.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
shift || true
all=(fuzz_frame_cutter fuzz_video_path fuzz_media_handler fuzz_launch_string fuzz_key_xml fuzz_config_xml)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")
build=${BUILD_DIR:-$root/build-fuzz}
jobs=${JOBS:-1}

# clang and its libFuzzer / sanitizer runtimes (Debian 12: clang 14).
missing=()
command -v clang >/dev/null || missing+=(clang)
ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || missing+=(libclang-rt-14-dev)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DKVM_FUZZ=ON -DKVM_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

# Files the targets write (key.xml, config.xml, the disk image) go to memory
# when possible: the settings writer syncs every save.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

max_len() {
  case "$1" in
    fuzz_video_path) echo 65536 ;;
    fuzz_frame_cutter|fuzz_media_handler) echo 16384 ;;
    *) echo 4096 ;;
  esac
}

run_one() {
  local t=$1 corpus=$build/corpus/$1 art=$build/artifacts/$1 log=$build/fuzz-$1.log
  mkdir -p "$corpus" "$art"
  set +e
  "$build/bin/$t" "$corpus" "$root/fuzz/corpus/$t" \
    -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=30 -rss_limit_mb=2560 \
    -artifact_prefix="$art/" -print_final_stats=1 >"$log" 2>&1
  local rc=$?
  set -e
  local execs
  execs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
  local found
  found=$(find "$art" -type f -newer "$marker" | wc -l)
  printf '%-20s %4ss  executions %-10s corpus %-5s exit %-3s findings %s\n' "$t" "$seconds" "${execs:-?}" \
    "$(find "$corpus" -type f | wc -l)" "$rc" "$found"
  [ "$rc" -eq 0 ] || grep -E 'ERROR|invariant|SUMMARY' "$log" | head -5
  return 0
}

marker=$build/.fuzz-start
touch "$marker"
status=0
running=0
for t in "${targets[@]}"; do
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
done
wait || status=1
for t in "${targets[@]}"; do
  if [ -n "$(find "$build/artifacts/$t" -type f -newer "$marker" 2>/dev/null)" ]; then status=1; fi
done
exit $status
