#!/usr/bin/env bash
# Ends of `demo --capture` that nobody asked for: the terminal closing
# (SIGHUP) and stderr piped into a reader that stops reading (`| head`) each
# finish a playable file of the frames rendered, remove the temporary and
# exit non-zero; two Ctrl+C a moment apart are one request, which leaves no
# temporary either. (A second one after the first has waited over 2 s ends the
# run at once: tests/shell/MessageLoopTest.cpp.)
. "$(dirname "$0")/lib.sh"

unset DISPLAY WAYLAND_DISPLAY
e2e_make_show
cp "$DEMO_SOURCE_DIR/res/Quelf - Tavoy Rip.mp3" "$E2E_SHOW/res/" || e2e_fail "no bundled music"
printf 'track control\n0 3 step\ntrack back.g\n0 1 step\n' >"$E2E_TMP/show.txt"
"$DEMOTOOL_BIN" track build "$E2E_TMP/show.txt" "$E2E_SHOW/res" >/dev/null ||
  e2e_fail "demotool could not build the tracks"
mkdir "$E2E_TMP/out"

frames_in() {
  ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$1"
}
no_temporary() {
  local left
  left=$(ls -A "$E2E_TMP/out" | grep partial || true)
  [ -z "$left" ] || e2e_fail "$1: temporary left behind: $left"
}
started() {  # started ERRFILE: the progress line shows a frame done
  grep -q ' [1-9][0-9]*/[0-9]* frames' "$1"
}

# --- The terminal closes ---------------------------------------------------
(cd "$E2E_SHOW" && exec "$DEMO_BIN" --capture "$E2E_TMP/out/hup.mp4" --size 160x90 --to 60) 2>"$E2E_TMP/demo.err" &
pid=$!
e2e_wait_until 120 "the first frames" started "$E2E_TMP/demo.err"
kill -HUP $pid
wait $pid
code=$?
[ "$code" -eq 1 ] || e2e_fail "SIGHUP: exit code $code, not 1"
frames=$(frames_in "$E2E_TMP/out/hup.mp4")
[ -n "$frames" ] && [ "$frames" -gt 0 ] || e2e_fail "SIGHUP left no playable file"
grep -q "terminal closed.*holds the $frames frames" "$E2E_TMP/demo.err" ||
  e2e_fail "SIGHUP: no line saying the file holds its $frames frames"
no_temporary SIGHUP

# --- stderr into a reader that goes away -----------------------------------
# head takes the first line and exits; the next progress line (a tenth of the
# way on) meets a pipe without a reader.
(cd "$E2E_SHOW" && exec "$DEMO_BIN" --capture "$E2E_TMP/out/pipe.mp4" --size 160x90 --to 12 2>&1 >/dev/null) |
  head -n 1 >"$E2E_TMP/head.out"
code=${PIPESTATUS[0]}
[ "$code" -eq 1 ] || e2e_fail "stderr without a reader: exit code $code, not 1 (141 is death by SIGPIPE)"
frames=$(frames_in "$E2E_TMP/out/pipe.mp4")
[ -n "$frames" ] && [ "$frames" -gt 0 ] && [ "$frames" -lt 720 ] ||
  e2e_fail "stderr without a reader: the file holds '$frames' frames, not some of the 720"
no_temporary "stderr without a reader"

# --- Two Ctrl+C during the start-up ------------------------------------------
# Skipping to 2:00 in the music keeps the start-up busy for a while; both
# signals come before the frame loop could take the first one up, the second
# a moment after the first (two at once would be delivered as one). They are
# one request: the capture ends as after one, never killed by the second.
(cd "$E2E_SHOW" && exec "$DEMO_BIN" --capture "$E2E_TMP/out/twice.mp4" --size 160x90 --from 2:00 --to 2:10) 2>"$E2E_TMP/twice.err" &
pid=$!
temporary_exists() { ls "$E2E_TMP/out" | grep -q 'twice.mp4.partial'; }
e2e_wait_until 60 "the temporary file" temporary_exists
kill -INT $pid
sleep 0.2
kill -INT $pid
wait $pid
code=$?
case $code in
  0) [ -s "$E2E_TMP/out/twice.mp4" ] || e2e_fail "two Ctrl+C: exit code 0 without a file" ;;
  1) grep -q "interrupted before the first frame; nothing written" "$E2E_TMP/twice.err" ||
       e2e_fail "two Ctrl+C: exit code 1 without the word why: $(tail -n 2 "$E2E_TMP/twice.err")" ;;
  *) e2e_fail "two Ctrl+C: exit code $code, as if the second had killed the run: $(tail -n 2 "$E2E_TMP/twice.err")" ;;
esac
no_temporary "two Ctrl+C"
echo "capture ends: SIGHUP kept $(frames_in "$E2E_TMP/out/hup.mp4") frames, a closed stderr pipe $frames, two Ctrl+C exit code $code"
