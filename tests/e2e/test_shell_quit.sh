#!/bin/bash
# How the demo ends: other keys are ignored; the right button, SIGTERM and
# SIGINT end it with exit code 0. The button ends it within a second on an
# idle machine; the deadlines here are for a loaded one, and an ignored button
# or signal still runs into them.
. "$(dirname "$0")/lib.sh"

BLUE="0 51 128"

start() {
  e2e_start_demo
  e2e_wait_window 30
  e2e_wait_pixel 0 0 $BLUE 8 30  # running its frames
}

expect_exit() {
  local what=$1 secs=$2
  e2e_wait_exit "$secs" || e2e_fail "still running ${secs}s after $what"
  [ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "exit code $E2E_EXIT_CODE after $what"
}

e2e_start_xvfb 800 450
e2e_make_show

start
for key in space a Return Left F1; do e2e_key "$key"; done
e2e_click 1
sleep 1.5
e2e_still_running || e2e_fail "ended by a key other than Escape or by the left button"
# Still drawing after those keys.
e2e_screenshot "$E2E_TMP/after_keys.png"
e2e_pixel_near "$E2E_TMP/after_keys.png" 0 0 $BLUE 8 || e2e_fail "picture gone after other keys"
e2e_click 3
expect_exit "a right click" 20

start
kill -TERM "$E2E_DEMO_PID"
expect_exit SIGTERM 20

start
kill -INT "$E2E_DEMO_PID"
expect_exit SIGINT 20

echo "PASS"
