#!/bin/bash
# Scrubbing the studio's demo while it is paused, with scrubAudio: a seek
# shows its row at once and plays a grain of the music from there, and the
# paused row does not move while the grain plays; play then goes on from the
# last seek.
. "$(dirname "$0")/lib.sh"

command -v curl >/dev/null || e2e_fail "curl is not installed"
e2e_start_xvfb 640 360
e2e_make_show
cp "$DEMO_SOURCE_DIR/res/src/show.tracks" "$E2E_SHOW/show.tracks"
cp "$DEMO_SOURCE_DIR/res/Quelf - Tavoy Rip.mp3" "$E2E_SHOW/res/"

e2e_start_demo --edit show.tracks --window 320x180
# demo.exe under Wine (E2E_LAUNCHER) ends its lines with CR LF.
address() { { tr -d '\r' <"$E2E_TMP/demo.err"; } 2>/dev/null | grep '^demo: studio: http'; }
said_address() {
  e2e_still_running || e2e_fail "the demo ended before saying the studio's address"
  address >/dev/null
}
e2e_wait_until 60 "the studio's address on stderr" said_address
line=$(address | head -n 1)
base=${line#demo: studio: }
base=${base%%#*}
token=${line##*#token=}

transport() {  # BODY: prints the state it answers with; fails on a refusal
  local answer
  answer=$(curl -s -m 10 -w '\n%{http_code}' -H "Authorization: Bearer $token" -d "$1" "${base}api/transport")
  [ "$(tail -n 1 <<<"$answer")" = 200 ] || e2e_fail "POST /api/transport $1: $answer"
  head -n -1 <<<"$answer"
}
state() { curl -s -m 10 -H "Authorization: Bearer $token" "${base}api/state"; }
field() { python3 -c 'import json, sys; print(json.load(sys.stdin)[sys.argv[1]])' "$1"; }
# The frame loop runs once the state has a frame rate.
running() { [ "$(state | field fps 2>/dev/null | cut -d. -f1)" -gt 0 ] 2>/dev/null; }
e2e_wait_until 60 "the show's first frames" running

transport '{"pause":true}' >/dev/null
# Each row: the row sought; the row must stay there while the grain plays.
for row in 600 300 1200 300; do
  shown=$(transport "{\"scrubAudio\":true,\"seek\":$row}" | field row)
  [ "$shown" = "$row.0" ] || e2e_fail "a seek to row $row while paused shows row $shown"
  for read in 1 2 3 4; do
    sleep 0.1
    now=$(state)
    [ "$(field row <<<"$now")" = "$row.0" ] || e2e_fail "the paused row moved while a grain played: $now"
    [ "$(field paused <<<"$now")" = True ] || e2e_fail "a grain unpaused the demo: $now"
  done
done
transport '{"play":true}' >/dev/null
sleep 1
row=$(state | field row)
python3 -c "import sys; r = float(sys.argv[1]); sys.exit(0 if 305 < r < 340 else 1)" "$row" ||
  e2e_fail "play after scrubbing to row 300 is at row $row a second later"
e2e_key Escape
echo "PASS"
