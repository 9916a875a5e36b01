#!/usr/bin/env bash
# `demo --capture` with no display: two seconds of a show with the bundled
# music become one H.264 stream of the asked size with exactly fps x seconds
# frames and one AAC stream of the same length, in MP4 or (for .mkv)
# Matroska; Ctrl+C finishes a playable file with what was rendered; refusals
# leave no file behind.
. "$(dirname "$0")/lib.sh"

unset DISPLAY WAYLAND_DISPLAY
e2e_make_show
cp "$DEMO_SOURCE_DIR/res/Quelf - Tavoy Rip.mp3" "$E2E_SHOW/res/" || e2e_fail "no bundled music"
cat >"$E2E_TMP/show.txt" <<'TRACKS'
track control
0 3 step
track back.n
0 100 step
track back.g
0 1 step
TRACKS
"$DEMOTOOL_BIN" track build "$E2E_TMP/show.txt" "$E2E_SHOW/res" >/dev/null ||
  e2e_fail "demotool could not build the tracks"
mkdir "$E2E_TMP/out"

capture() {  # capture FILE [options]: runs in the show folder, stderr kept
  local file=$1
  shift
  (cd "$E2E_SHOW" && "$DEMO_BIN" --capture "$file" "$@") 2>>"$E2E_TMP/demo.err" ||
    e2e_fail "--capture $file $* failed"
}
probe() {  # probe FILE ENTRIES: one value per line, streams in file order
  ffprobe -v error -count_frames -show_entries "$2" -of default=noprint_wrappers=1:nokey=1 "$1"
}
# The file holds exactly one video stream and one audio stream, in that order.
expect_streams() {  # expect_streams FILE W H FRAMES SECONDS FORMAT
  local file=$1 w=$2 h=$3 frames=$4 seconds=$5 format=$6 got
  got=$(probe "$file" stream=codec_type,codec_name | xargs)
  [ "$got" = "h264 video aac audio" ] || e2e_fail "$file: streams '$got', not one H.264 video and one AAC audio"
  got=$(probe "$file" format=format_name)
  [[ "$got" == *"$format"* ]] || e2e_fail "$file: container $got, not $format"
  got=$(ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 "$file")
  [ "$got" = "$w,$h" ] || e2e_fail "$file: picture $got, not $w,$h"
  got=$(ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$file")
  [ "$got" = "$frames" ] || e2e_fail "$file: $got frames, not $frames"
  # The sound's length from its decoded samples: AAC pads its last frame and
  # primes the encoder with one more (which Matroska keeps), so up to two
  # frames of 1024 samples beyond the captured time.
  got=$(ffmpeg -v error -i "$file" -map 0:a -f f32le -ac 1 -ar 44100 - | wc -c)
  awk -v n="$got" -v s="$seconds" 'BEGIN { exit !(n / 4 >= s * 44100 && n / 4 <= s * 44100 + 2048) }' ||
    e2e_fail "$file: sound lasts $((got / 4)) samples at 44.1 kHz, not $seconds s"
}

capture "$E2E_TMP/out/two.mp4" --size 160x90 --from 5 --to 7
expect_streams "$E2E_TMP/out/two.mp4" 160 90 120 2.000 mp4
capture "$E2E_TMP/out/one.mkv" --size 96x54 --fps 25 --from r100 --to 0:06
expect_streams "$E2E_TMP/out/one.mkv" 96 54 25 1.000 matroska
# The backdrop's green fills the middle of the picture.
ffmpeg -v error -i "$E2E_TMP/out/two.mp4" -frames:v 1 "$E2E_TMP/frame.png" || e2e_fail "the video does not decode"
e2e_pixel_near "$E2E_TMP/frame.png" 80 45 0 255 0 24 || e2e_fail "the first frame's middle is $(e2e_pixel "$E2E_TMP/frame.png" 80 45), not green"

# --- Ctrl+C: a complete file with the frames rendered so far -------------------
(cd "$E2E_SHOW" && exec "$DEMO_BIN" --capture "$E2E_TMP/out/stopped.mp4" --size 160x90 --to 60) 2>"$E2E_TMP/stop.err" &
pid=$!
# Without a terminal the progress bar writes a line at each tenth of the way;
# the first one with frames done says the encoder is fed.
fed() {
  grep -q ' [1-9][0-9]*/3600 frames' "$E2E_TMP/stop.err" && return 0
  kill -0 $pid 2>/dev/null || e2e_fail "the long capture ended early: $(cat "$E2E_TMP/stop.err")"
  return 1
}
e2e_wait_until 120 "the long capture's first progress line" fed
kill -INT $pid
wait $pid
code=$?
[ "$code" -eq 0 ] || e2e_fail "Ctrl+C: exit code $code: $(tail -n 3 "$E2E_TMP/stop.err")"
frames=$(ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$E2E_TMP/out/stopped.mp4")
[ -n "$frames" ] && [ "$frames" -gt 0 ] && [ "$frames" -lt 3600 ] || e2e_fail "Ctrl+C left $frames frames"
grep -q "holds the $frames frames" "$E2E_TMP/stop.err" || e2e_fail "the stop message does not match the file's $frames frames"

# --- Refusals: a clear line, a non-zero exit, no file --------------------------
refuse() {  # refuse CODE WORD ARGS...
  local code=$1 word=$2 got
  shift 2
  (cd "$E2E_SHOW" && "$DEMO_BIN" "$@") >/dev/null 2>"$E2E_TMP/refusal.err" && e2e_fail "demo $* succeeded"
  got=$?
  [ "$got" -eq "$code" ] || e2e_fail "demo $*: exit code $got, not $code"
  grep -qi -- "$word" "$E2E_TMP/refusal.err" || e2e_fail "demo $*: no '$word' in: $(cat "$E2E_TMP/refusal.err")"
}
refuse 1 "even" --capture "$E2E_TMP/out/odd.mp4" --size 161x90 --to 1
refuse 1 "cannot write" --capture "$E2E_TMP/missing/a.mp4" --size 160x90 --to 1
refuse 1 "folder" --capture "$E2E_TMP/out" --size 160x90 --to 1
refuse 1 "past the end of the music" --capture "$E2E_TMP/out/late.mp4" --size 160x90 --from 10:00
refuse 2 "after" --capture "$E2E_TMP/out/back.mp4" --from 5 --to 4
refuse 2 "size" --capture "$E2E_TMP/out/zero.mp4" --size 160x0
left=$(ls -A "$E2E_TMP/out" | grep -vxE 'two.mp4|one.mkv|stopped.mp4' || true)
[ -z "$left" ] || e2e_fail "files left behind: $left"
echo "capture: mp4 and mkv streams, sizes, frame counts and sound lengths; Ctrl+C after $frames frames; refusals"
