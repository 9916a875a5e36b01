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
e2e_expect_exit 20 "a right click"

start
kill -TERM "$E2E_DEMO_PID"
e2e_expect_exit 20 SIGTERM

start
kill -INT "$E2E_DEMO_PID"
e2e_expect_exit 20 SIGINT

echo "PASS"
