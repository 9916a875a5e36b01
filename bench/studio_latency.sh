#!/bin/bash
# The studio's timings: `demo --edit` at 960x540 under Xvfb, with the software
# renderer, writing a line per presented frame (DEMO_STUDIO_FRAME_LOG), driven
# through its API by bench/studio_latency.py: an edit's response to the first
# frame that shows it, a seek while paused to its frame, state events a second
# and how far the page's playhead trails the picture. Then the page's frame
# rate in headless Chromium while playing a show of 10,000 keys (against the
# fake of the API, tests/studio/fake_studio_server.py).
#
#   bench/studio_latency.sh [EDITS] [WxH]      (defaults: 100 edits, 960x540)
#
# DEMO_BIN picks the binary (default build/demo).
case "${1:-}" in
  -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
. "$(dirname "$0")/../tests/e2e/lib.sh"
edits=${1:-100}
size=${2:-960x540}
[[ "$edits" =~ ^[1-9][0-9]*$ ]] || e2e_fail "EDITS must be a number above 0, not '$edits'"
[[ "$size" =~ ^[1-9][0-9]*x[1-9][0-9]*$ ]] || e2e_fail "WxH must look like 960x540, not '$size'"

# Debian's python3-selenium is for Debian's python3, which may not come first in PATH.
py=python3
[ -x /usr/bin/python3 ] && py=/usr/bin/python3

e2e_start_xvfb "${size%x*}" "${size#*x}"
e2e_make_show res
cp "$DEMO_SOURCE_DIR/res/src/show.tracks" "$E2E_SHOW/show.tracks"
export DEMO_STUDIO_FRAME_LOG=1
e2e_start_demo --edit show.tracks --window "$size"
said_address() {
  e2e_still_running || e2e_fail "the demo ended before saying the studio's address: $(tail -3 "$E2E_TMP/demo.err")"
  grep -qs '^demo: studio: http://127\.0\.0\.1:[0-9]*/#token=' "$E2E_TMP/demo.err"
}
e2e_wait_until 60 "the studio's address on stderr" said_address
url=$(grep -m1 '^demo: studio: http' "$E2E_TMP/demo.err")
e2e_wait_window 60
sleep 1  # past the first frames

echo "demo --edit at $size, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$py" "$DEMO_SOURCE_DIR/bench/studio_latency.py" --url "${url#demo: studio: }" --log "$E2E_TMP/demo.err" \
  --edits "$edits" || e2e_fail "the measurements failed"
e2e_still_running || e2e_fail "the demo ended during the measurements"
e2e_key Escape
e2e_wait_exit 20

"$py" "$DEMO_SOURCE_DIR/tests/studio/test_page.py" --frame-time
status=$?
[ "$status" = 77 ] && echo "page frame time: skipped (no chromium, chromium-driver or python3-selenium)"
exit 0
