#!/bin/bash
# The studio page in headless Chromium against the real demo --edit: the page
# test of tests/studio, with the demo's own server, text model and frame loop
# behind it instead of the fake. Skipped where chromium, its driver or
# selenium are missing.
. "$(dirname "$0")/lib.sh"

e2e_start_xvfb 640 360
e2e_make_show
cp "$DEMO_SOURCE_DIR/res/src/show.tracks" "$E2E_SHOW/show.tracks"
cp "$E2E_SHOW/show.tracks" "$E2E_TMP/original.tracks"

e2e_start_demo --edit show.tracks --window 320x180
said_address() {
  e2e_still_running || e2e_fail "the demo ended before saying the studio's address"
  grep -qs '^demo: studio: http://127\.0\.0\.1:[0-9]*/#token=' "$E2E_TMP/demo.err"
}
e2e_wait_until 30 "the studio's address on stderr" said_address
url=$(grep -m1 '^demo: studio: http' "$E2E_TMP/demo.err")
status=0
STUDIO_URL=${url#demo: studio: } STUDIO_FILE="$E2E_SHOW/show.tracks" timeout 120 python3 "$DEMO_SOURCE_DIR/tests/studio/test_page.py" || status=$?
[ "$status" = 77 ] && { echo "SKIP: no chromium, chromium-driver or python3-selenium"; exit 0; }
[ "$status" = 0 ] || e2e_fail "the page test against the demo failed ($status)"
e2e_still_running || e2e_fail "the demo ended during the page test"

e2e_key Escape
e2e_expect_exit 20 Escape
echo PASS
