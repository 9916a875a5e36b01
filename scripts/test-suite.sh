#!/usr/bin/env bash
# The whole test suite, built once with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan and run there: the unit tests
# with LeakSanitizer on, then the display tests and the end-to-end tests (the
# sanitized demo and demotool under Xvfb) with it off; before them the music
# clock and audio tests (the sync suite) under ThreadSanitizer, built into
# build-tsan. ./test runs it last. Exits non-zero when anything failed.
#   scripts/test-suite.sh [--help]
#   scripts/test-suite.sh --tsan-demo: instead, builds the demo itself with
#     ThreadSanitizer into build-tsan and plays the bundled show under Xvfb
#     for 10 s after its loading screen; any report fails it.
#   scripts/test-suite.sh --build-only: builds what the suite runs and stops
#     (./test builds while the Windows tests still run, and runs the suite
#     once they are done, so that no timed test shares the cores with Wine).
# Environment: SUITE_JOBS, parallel jobs for building and testing (default:
# one per core).
set -euo pipefail
root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
cd "$root"
tsan_demo= build_only=
case "${1:-}" in
  -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  --tsan-demo) tsan_demo=1 ;;
  --build-only) build_only=1 ;;
  "") ;;
  *) echo "test-suite.sh: no arguments expected, got '$1'" >&2; exit 2 ;;
esac
jobs=${SUITE_JOBS:-$(nproc)}
log=$(mktemp)
trap 'rm -f "$log"' EXIT

fail() {
  echo "test-suite: $1 failed; the end of its output:" >&2
  tail -n 60 "$log" >&2
  exit 1
}

# Line tables are all the sanitizers' reports need, and full debug
# information would cost a third of the build.
flags="-O2 -g1 -DNDEBUG"
tsan_flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEMO_BENCH=OFF \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" \
  -DCMAKE_C_FLAGS="$tsan_flags" -DCMAKE_CXX_FLAGS="$tsan_flags" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >"$log" 2>&1 || fail "configuring build-tsan"

# The demo plays on its main thread, with the music's on another and the
# image worker's beside them: 10 s of the show after the loading screen
# under ThreadSanitizer, ended as a person would (SIGTERM ends it with 0).
run_tsan_demo() {
  cmake --build build-tsan -j "$jobs" --target demo >"$log" 2>&1 || fail "building the demo with TSan"
  local deadline status=0
  tsan_out=$(mktemp -d) xvfb= demo=
  trap 'kill $demo $xvfb 2>/dev/null; rm -rf "$tsan_out" "$log"' EXIT
  Xvfb -displayfd 9 -screen 0 1280x720x24 +extension GLX -nolisten tcp -noreset 9>"$tsan_out/display" 2>/dev/null &
  xvfb=$!
  deadline=$((SECONDS + 20))
  until [ -s "$tsan_out/display" ]; do
    [ $SECONDS -lt $deadline ] || fail "starting Xvfb"
    sleep 0.1
  done
  DISPLAY=:$(cat "$tsan_out/display") SDL_AUDIODRIVER=dummy \
    TSAN_OPTIONS="halt_on_error=1:exitcode=66:suppressions=$root/tests/sanitizers/tsan.supp" \
    build-tsan/demo --window 640x360 --stats 2>"$log" &
  demo=$!
  # The loading screen decodes seven pictures, several times slower under
  # the sanitizer; --stats says when the first show frame is out.
  deadline=$((SECONDS + 180))
  until grep -q '^start-up:' "$log"; do
    kill -0 "$demo" 2>/dev/null || break
    [ $SECONDS -lt $deadline ] || { kill -KILL "$demo"; fail "the TSan demo's loading screen (over 180 s)"; }
    sleep 0.2
  done
  sleep 10
  kill -TERM "$demo" 2>/dev/null || true
  wait "$demo" || status=$?
  demo=
  if [ "$status" -ne 0 ] || grep -q 'ThreadSanitizer' "$log"; then
    fail "the demo under TSan (exit status $status)"
  fi
  echo "test-suite: the demo played 10 s of the show clean under TSan ($(grep -m1 '^frames:' "$log" || echo 'no frame line'))"
}

if [ -n "$tsan_demo" ]; then
  run_tsan_demo
  exit 0
fi

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEMO_SANITIZE=ON -DDEMO_BENCH=OFF \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" >"$log" 2>&1 ||
  fail "configuring build-asan"
echo "test-suite: building the suite with ASan and UBSan into build-asan"
cmake --build build-asan -j "$jobs" >"$log" 2>&1 || fail "building build-asan"

cmake --build build-tsan -j "$jobs" --target sync_tests >"$log" 2>&1 || fail "building sync_tests with TSan"
[ -z "$build_only" ] || exit 0
# The clock's pace against the wall clock is left to the ASan run: under
# ThreadSanitizer's cost the dummy audio thread can fall behind real time,
# which says nothing about the threads' safety.
start=$SECONDS
TSAN_OPTIONS="halt_on_error=1:suppressions=$root/tests/sanitizers/tsan.supp" \
  build-tsan/tests/sync/sync_tests --gtest_brief=1 --gtest_filter='-*RowsAdvanceTwentyPerSecondOfMusic*' \
  >"$log" 2>&1 || fail "sync_tests under TSan"
echo "test-suite: sync_tests (music clock and audio) clean under TSan" \
  "($(grep -o 'PASSED *] [0-9]* tests' "$log" | grep -o '[0-9]* tests'), $((SECONDS - start)) s)"

# Leaks inside the system's GL, font and display libraries (caches kept for
# the process's life) are theirs, not ours: see the suppressions.
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
asan=abort_on_error=1:strict_string_checks=1
# A window that closes takes Mesa's driver with it, and LeakSanitizer then
# sees the driver's cached memory with no library to blame it on: the tests
# that close a window (the display tests, and every end-to-end run of the
# demo) run with leak checking off.
closes_window='^Display|^e2e_'
status=0
echo "== the display and end-to-end tests (ASan and UBSan)"
ASAN_OPTIONS=$asan:detect_leaks=0 ctest --test-dir build-asan -j "$jobs" -R "$closes_window" \
  --output-on-failure || status=1
echo "== the unit tests (ASan, UBSan and LSan)"
ASAN_OPTIONS=$asan:detect_leaks=1 ctest --test-dir build-asan -j "$jobs" -E "$closes_window" \
  --output-on-failure || status=1
exit "$status"
