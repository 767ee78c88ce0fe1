#!/usr/bin/env bash
# Sanitizer runs.
#
#   scripts/sanitize.sh asan   whole test suite built with AddressSanitizer +
#                              UndefinedBehaviorSanitizer (KVM_SANITIZE=ON, build-asan)
#   scripts/sanitize.sh tsan   the thread code outside the GUI (queues, socket
#                              threads, media send/receive with the KM flush,
#                              disk read thread, logger thread, the video
#                              hand-over and band thread) with ThreadSanitizer
#                              (KVM_TSAN=ON, build-tsan)
#   scripts/sanitize.sh all    both (default)
#
# Extra arguments after the mode go to ctest (e.g. -R test_channels).
# Environment: ASAN_BUILD_DIR, TSAN_BUILD_DIR, CC/CXX (default: the system's gcc).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-all}
shift || true

# The thread tests ThreadSanitizer runs: no widgets and no event loop there
# (the video test uses QImage for pixels only).
tsan_tests=(test_thread_join test_queue_threads test_channels test_tcp_sock test_read_disk_thread
            test_media_protocol test_media_channel test_logger test_log_capture test_spin_wait
            test_video_decoder)

seconds_since() { echo $(( $(date +%s) - $1 )); }

run_asan() {
  local build=${ASAN_BUILD_DIR:-$root/build-asan}
  local t0
  t0=$(date +%s)
  cmake -S "$root" -B "$build" -DKVM_SANITIZE=ON -DKVM_TSAN=OFF -DKVM_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" -j2 >/dev/null
  echo "asan: build $(seconds_since "$t0") s"
  t0=$(date +%s)
  # Leaks inside Qt's and the system's libraries are listed in tests/lsan.supp.
  local rc=0
  (cd "$build" &&
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:check_initialization_order=1" \
    LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --output-on-failure --timeout 600 -j2 "$@") || rc=$?
  echo "asan: tests $(seconds_since "$t0") s, ctest exit $rc"
  return $rc
}

run_tsan() {
  local build=${TSAN_BUILD_DIR:-$root/build-tsan}
  local t0
  t0=$(date +%s)
  cmake -S "$root" -B "$build" -DKVM_TSAN=ON -DKVM_SANITIZE=OFF -DKVM_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" -j2 --target "${tsan_tests[@]}" >/dev/null
  echo "tsan: build $(seconds_since "$t0") s"
  t0=$(date +%s)
  local regex
  regex="^($(IFS='|'; echo "${tsan_tests[*]}"))\$"
  local rc=0
  (cd "$build" &&
    TSAN_OPTIONS="suppressions=$root/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1:history_size=4" \
    ctest --output-on-failure --timeout 600 -j2 -R "$regex" "$@") || rc=$?
  echo "tsan: tests $(seconds_since "$t0") s, ctest exit $rc"
  return $rc
}

status=0
case "$mode" in
  asan) run_asan "$@" || status=1 ;;
  tsan) run_tsan "$@" || status=1 ;;
  all)
    run_asan "$@" || status=1
    run_tsan "$@" || status=1
    ;;
  *) echo "usage: $0 [asan|tsan|all] [ctest arguments]" >&2; exit 2 ;;
esac
exit $status
