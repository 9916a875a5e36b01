#!/usr/bin/env bash
# The control track ends the show: a show whose control code becomes 777 at
# row 60 (three seconds at 20 rows per second) ends by itself with exit code
# 0, neither early nor late.
. "$(dirname "$0")/lib.sh"

e2e_start_xvfb 320 180
e2e_make_show

cat >"$E2E_TMP/show.txt" <<'TRACKS'
track control
0 1 step
20 3 step
40 5 step
60 777 step
TRACKS
"$DEMOTOOL_BIN" track build "$E2E_TMP/show.txt" "$E2E_SHOW/res" >/dev/null ||
  e2e_fail "demotool could not build the tracks"

# The show has no music file: the demo says so once on stderr when it opens
# the music, just before playback starts, and then runs on the system clock.
# That line (not the images' lines before it, which come while loading takes
# as long as the machine makes it) marks the start of the timeline far more
# precisely than polling screenshots of a machine busy rendering with the
# software rasterizer.
#
# A loaded machine may see the line late, which would make the show look
# short: the line's time is taken as the earlier of when the test saw it and
# when the file was last written (no later than the line, unless something
# came after it). And it may see the end late, after the last frame and the
# sanitized demo's exit: the upper bound leaves seconds for that, and still
# catches a clock that runs at well under its pace.
e2e_start_demo
music_said() {
  grep -q '^demo: music: ' "$E2E_TMP/demo.err" 2>/dev/null && return 0
  e2e_still_running || e2e_fail "the demo ended before opening its music"
  return 1
}
e2e_wait_until 150 "the demo to say that the music is missing" music_said
music_opened=$(date +%s%N)
written=$(stat -c %.9Y "$E2E_TMP/demo.err" | tr -d .)
[ "$written" -lt "$music_opened" ] && music_opened=$written

e2e_wait_exit 30 || e2e_fail "the show did not end within 30 s of its start"
ended=$(date +%s%N)
code=$E2E_EXIT_CODE
elapsed_ms=$(( (ended - music_opened) / 1000000 ))
e2e_note "exit code $code, ${elapsed_ms} ms after the music was opened"
[ "$code" = 0 ] || e2e_fail "exit code $code, expected 0"
[ "$elapsed_ms" -ge 2500 ] || e2e_fail "ended ${elapsed_ms} ms after the start: before row 60"
[ "$elapsed_ms" -le 8000 ] || e2e_fail "ended ${elapsed_ms} ms after the start: well after row 60"

# Started after row 60 the show ends before its first frame: it says why
# rather than closing without a word.
e2e_start_demo --from 4
e2e_expect_exit 30 "starting with --from 4"
grep -q '^demo: the show has ended (control code 777) by 0:04.00; nothing to play$' "$E2E_TMP/demo.err" ||
  e2e_fail "--from 4: no word that the show had ended"
echo "PASS"
