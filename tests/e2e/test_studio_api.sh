#!/bin/bash
# demo --edit serves the studio: the address is said once on stderr, the API
# answers with the token and refuses without it or from a foreign Host, and an
# edit sent with curl is in FILE (and only that line) when its answer comes.
. "$(dirname "$0")/lib.sh"

command -v curl >/dev/null || e2e_fail "curl is not installed"
e2e_start_xvfb 640 360
e2e_make_show
cp "$DEMO_SOURCE_DIR/res/src/show.tracks" "$E2E_SHOW/show.tracks"
cp "$E2E_SHOW/show.tracks" "$E2E_TMP/original.tracks"

e2e_start_demo --edit show.tracks --window 320x180
# demo.exe under Wine (E2E_LAUNCHER) ends its lines with CR LF.
stderr_lines() { tr -d '\r' <"$E2E_TMP/demo.err"; }
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

e2e_wait_window 30
e2e_key Escape
e2e_expect_exit 20 Escape
echo PASS
