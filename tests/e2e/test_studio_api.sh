#!/bin/bash
# demo --edit serves the studio: the address is said once on stderr, the API
# answers with the token and refuses without it or from a foreign Host, an
# edit sent with curl is in FILE (and only that line) when its answer comes,
# and the music's waveform and beats (found in the music where the build has
# aubio: the bundled music is 120 BPM) come once the demo has read them.
. "$(dirname "$0")/lib.sh"

command -v curl >/dev/null || e2e_fail "curl is not installed"
e2e_start_xvfb 640 360
e2e_make_show
cp "$DEMO_SOURCE_DIR/res/src/show.tracks" "$E2E_SHOW/show.tracks"
cp "$DEMO_SOURCE_DIR/res/Quelf - Tavoy Rip.mp3" "$E2E_SHOW/res/"
cp "$E2E_SHOW/show.tracks" "$E2E_TMP/original.tracks"

e2e_start_demo --edit show.tracks --window 320x180
# demo.exe under Wine (E2E_LAUNCHER) ends its lines with CR LF.
stderr_lines() { { tr -d '\r' <"$E2E_TMP/demo.err"; } 2>/dev/null; }
said_address() {
  e2e_still_running || e2e_fail "the demo ended before saying the studio's address"
  stderr_lines | grep -q '^demo: studio: http://127\.0\.0\.1:[0-9]*/#token=[0-9a-f]\{32\}$'
}
e2e_wait_until 60 "the studio's address on stderr" said_address
[ "$(stderr_lines | grep -c '^demo: studio: http')" = 1 ] || e2e_fail "the address was said more than once"
line=$(stderr_lines | grep '^demo: studio: http')
base=${line#demo: studio: }
base=${base%%#*}
token=${line##*#token=}
port=${base#http://127.0.0.1:}
port=${port%/}

api() {  # METHOD PATH [BODY]: prints the body, then the status on a line of its own
  curl -s -m 10 -w '\n%{http_code}' -X "$1" -H "Authorization: Bearer $token" ${3:+-d "$3"} "$base${2#/}"
}
status() { tail -n 1 <<<"$1"; }
json() {  # FIELD: a field of the JSON body that api printed, on stdin
  head -n -1 | python3 -c 'import json, sys; print(json.load(sys.stdin)[sys.argv[1]])' "$1"
}

show_loaded() { [ "$(status "$(api GET /api/show)")" = 200 ]; }
e2e_wait_until 60 "the show to load" show_loaded
state=$(api GET /api/state)
[ "$(status "$state")" = 200 ] || e2e_fail "GET /api/state: $state"
json row <<<"$state" >/dev/null || e2e_fail "no row in the state: $state"
version=$(api GET /api/show | json version)

# Refused: no token, a foreign Host; neither changes the file.
edit="{\"version\":$version,\"ops\":[{\"track\":\"back.r\",\"row\":10,\"value\":0.25}]}"
code=$(curl -s -m 10 -o /dev/null -w '%{http_code}' -d "$edit" "${base}api/edit")
[ "$code" = 403 ] || e2e_fail "an edit without the token got $code"
code=$(curl -s -m 10 -o /dev/null -w '%{http_code}' -H "Authorization: Bearer $token" -H "Host: studio.example:$port" \
  -d "$edit" "${base}api/edit")
[ "$code" = 403 ] || e2e_fail "an edit with a foreign Host got $code"
cmp -s "$E2E_SHOW/show.tracks" "$E2E_TMP/original.tracks" || e2e_fail "a refused edit changed the file"

answer=$(api POST /api/edit "$edit")
[ "$(status "$answer")" = 200 ] || e2e_fail "the edit was refused: $answer"
[ "$(json version <<<"$answer")" -gt "$version" ] || e2e_fail "the edit's answer has no new version"
changed=$(diff "$E2E_TMP/original.tracks" "$E2E_SHOW/show.tracks" | grep -c '^[<>]')
diff "$E2E_TMP/original.tracks" "$E2E_SHOW/show.tracks" | grep -q '^> *10 *0.25 ' ||
  e2e_fail "the key is not in the file: $(diff "$E2E_TMP/original.tracks" "$E2E_SHOW/show.tracks")"
[ "$changed" = 1 ] || e2e_fail "the edit changed $changed lines of the file"
# The demo does not take its own write for a save from outside.
sleep 0.5
grep -q 'new tracks on screen' "$E2E_TMP/demo.err" && e2e_fail "the demo's own write was taken as a save"

# Undo gives back the file byte for byte.
[ "$(status "$(api POST /api/undo)")" = 200 ] || e2e_fail "undo was refused"
cmp -s "$E2E_SHOW/show.tracks" "$E2E_TMP/original.tracks" || e2e_fail "undo did not give back the file"

# The music: 503 while the demo still reads it, then the answer.
music_answer() {  # PATH: true once answered, false while still reading
  answer=$(api GET "$1")
  E2E_WAIT_NOTE="the last answer: $answer"
  case "$(status "$answer")" in
    200) return 0 ;;
    503) return 1 ;;
    *) e2e_fail "GET $1: $answer" ;;
  esac
}
e2e_wait_until 60 "the waveform" music_answer "/api/waveform?from=0&to=120&columns=400"
head -n -1 <<<"$answer" | python3 -c '
import json, sys
peaks = json.load(sys.stdin)["peaks"]
assert len(peaks) == 400, f"{len(peaks)} columns for 400"
assert all(-1 <= lo <= hi <= 1 for lo, hi in peaks), "a peak outside -1..1"
assert sum(1 for lo, hi in peaks if hi - lo > 0.1) > 300, "mostly silence"
' || e2e_fail "the waveform is not the music's: $answer"
[ "$(status "$(api GET "/api/waveform?from=5&to=1&columns=10")")" = 400 ] || e2e_fail "a backwards stretch was not refused"

e2e_wait_until 120 "the beats" music_answer /api/beats
case "$DEMO_BIN" in
  *.exe) detects=0 ;;  # the Windows build has no aubio: it says so
  *) detects=1 ;;
esac
head -n -1 <<<"$answer" | python3 -c '
import json, sys
beats, detects = json.load(sys.stdin), sys.argv[1] == "1"
if detects:
    assert beats["detected"] is True, "not detected"
    assert abs(beats["bpm"] - 120) <= 0.24, "%s BPM for 120" % beats["bpm"]
    assert beats["detectedTempo"]["bpm"] == beats["bpm"]
    assert abs(beats["beats"][1] - beats["beats"][0] - 0.5) < 0.001
else:
    assert beats["detected"] is False and beats["detectedTempo"] is None, "detected"
    assert "not available in this build" in beats["reason"], beats.get("reason")
' "$detects" || e2e_fail "the beats: $answer"

e2e_wait_window 30
e2e_key Escape
e2e_expect_exit 20 Escape
echo PASS
