#!/usr/bin/env bash
# Every unit-test suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# LeakSanitizer on, built into build-asan; then the music clock and audio
# tests (the sync suite) under ThreadSanitizer, built into build-tsan. The
# demotool that the tools suite runs is the sanitized one too. Quiet unless
# something fails; exits non-zero on the first failure.
#   scripts/test-sanitizers.sh [--help]
# Environment: SANITIZE_JOBS, the build's parallel jobs (default 2).
set -euo pipefail
root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
cd "$root"
case "${1:-}" in
  -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  "") ;;
  *) echo "test-sanitizers.sh: no arguments expected, got '$1'" >&2; exit 2 ;;
esac
jobs=${SANITIZE_JOBS:-2}
suites="png sync platform image render shell tools"
log=$(mktemp)
trap 'rm -f "$log"' EXIT

fail() {
  echo "sanitizers: $1 failed; the end of its output:" >&2
  tail -n 60 "$log" >&2
  exit 1
}

# Leaks inside the system's GL, font and display libraries (caches kept for
# the process's life) are theirs, not ours.
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:suppressions=$root/tests/sanitizers/tsan.supp"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEMO_SANITIZE=ON -DDEMO_BENCH=OFF >"$log" 2>&1 ||
  fail "configuring build-asan"
cmake --build build-asan -j "$jobs" --target $(printf '%s_tests ' $suites) demotool >"$log" 2>&1 ||
  fail "building the suites with ASan and UBSan"
# Run as the main suite runs them, each test in a process of its own (GL
# tests share a context within one process). The clock's pace against the
# wall clock is measured in the main suite only: with the sanitizers' cost on
# a loaded machine the dummy audio thread falls behind real time, which says
# nothing about memory or threads.
timing_tests=RowsAdvanceTwentyPerSecondOfMusic
start=$SECONDS
ctest --test-dir build-asan -j "$jobs" -LE e2e -E "$timing_tests|^Display" --output-on-failure >"$log" 2>&1 ||
  fail "the unit tests under ASan and UBSan"
echo "sanitizers: unit tests clean under ASan, UBSan and LSan" \
  "($(grep -o 'out of [0-9]*' "$log" | grep -o '[0-9]*$') tests, $((SECONDS - start)) s)"
# The display tests close their window, and with it Mesa unloads the driver
# it loaded for it: LeakSanitizer then sees the driver's cached memory with
# no library to blame it on. They run under ASan and UBSan without it.
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
  ctest --test-dir build-asan -j "$jobs" -LE e2e -R "^Display" --output-on-failure >"$log" 2>&1 ||
  fail "the display tests under ASan and UBSan"
echo "sanitizers: display tests clean under ASan and UBSan" \
  "($(grep -o 'out of [0-9]*' "$log" | grep -o '[0-9]*$') tests)"

tsan_flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEMO_BENCH=OFF \
  -DCMAKE_C_FLAGS="$tsan_flags" -DCMAKE_CXX_FLAGS="$tsan_flags" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >"$log" 2>&1 || fail "configuring build-tsan"
cmake --build build-tsan -j "$jobs" --target sync_tests >"$log" 2>&1 || fail "building sync_tests with TSan"
start=$SECONDS
build-tsan/tests/sync/sync_tests --gtest_brief=1 --gtest_filter="-*$timing_tests*" >"$log" 2>&1 || fail "sync_tests under TSan"
echo "sanitizers: sync_tests (music clock and audio) clean under TSan" \
  "($(grep -o 'PASSED *] [0-9]* tests' "$log" | grep -o '[0-9]* tests'), $((SECONDS - start)) s)"
