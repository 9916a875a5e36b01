#!/usr/bin/env bash
# `demo --show DIR` reads the show from DIR, wherever the demo is started,
# and `--tracks FILE` makes a still or a video of track text instead of the
# compiled track files. A DIR that is no folder, or track text with errors,
# is refused before anything else happens and leaves no file behind.
. "$(dirname "$0")/lib.sh"

unset DISPLAY WAYLAND_DISPLAY
W=160 H=90
cx=$((W / 2)) cy=$((H / 2))
e2e_make_show  # the working directory, with an empty res/
dir="$E2E_TMP/my show"
mkdir -p "$dir"
# An orange backdrop without a texture in the middle of the blue ground.
cat >"$E2E_TMP/orange.tracks" <<'TRACKS'
track control
0 0 step
700 777 step
track back.n
0 100 step
track back.r
0 1 step
track back.g
0 0.5 step
track scroll.y
0 100 step
TRACKS
"$DEMOTOOL_BIN" track build "$E2E_TMP/orange.tracks" "$dir" >/dev/null 2>&1 ||
  e2e_fail "demotool could not build the tracks"

run() {  # run OUT-OF-DEMO-ERR args...: the demo from the working directory
  local err=$1
  shift
  (cd "$E2E_SHOW" && "$DEMO_BIN" "$@") 2>"$err"
}

# --- The show's folder -------------------------------------------------------
run "$E2E_TMP/demo.err" --render 2 -o "$E2E_TMP/dir.png" --size ${W}x$H --show "$dir" ||
  e2e_fail "--render with --show failed"
e2e_pixel_near "$E2E_TMP/dir.png" $cx $cy 255 128 0 ||
  e2e_fail "the still of --show DIR is not the show in DIR: $(e2e_pixel "$E2E_TMP/dir.png" $cx $cy)"
# A trailing slash names the same folder.
run "$E2E_TMP/demo.err" --render 2 -o "$E2E_TMP/slash.png" --size ${W}x$H --show "$dir/" ||
  e2e_fail "--render with --show DIR/ failed"
cmp -s "$E2E_TMP/dir.png" "$E2E_TMP/slash.png" || e2e_fail "--show DIR/ drew another picture than --show DIR"
# Without --show the empty res/ of the working directory is the show.
run "$E2E_TMP/demo.err" --render 2 -o "$E2E_TMP/res.png" --size ${W}x$H || e2e_fail "--render without --show failed"
e2e_pixel_near "$E2E_TMP/res.png" $cx $cy 255 128 0 && e2e_fail "without --show the show in DIR was drawn"

touch "$E2E_TMP/a-file"
for bad in "$E2E_TMP/nowhere:no such folder" "$E2E_TMP/a-file:not a folder"; do
  folder=${bad%%:*} why=${bad#*:}
  for mode in "--render 2 -o $E2E_TMP/bad.png" "--capture $E2E_TMP/bad.mp4" "--window 320x180"; do
    # shellcheck disable=SC2086  # the mode is words
    run "$E2E_TMP/demo.err" $mode --show "$folder" && e2e_fail "$mode --show $folder was not refused"
    grep -qF "demo: startup: --show '$folder': $why" "$E2E_TMP/demo.err" ||
      e2e_fail "$mode --show $folder: no clear refusal: $(cat "$E2E_TMP/demo.err")"
    # Refused before the display: without one it would otherwise say that.
    grep -q "display" "$E2E_TMP/demo.err" && e2e_fail "$mode --show $folder reached the display first"
  done
done
ls "$E2E_TMP" | grep -q '^bad\.' && e2e_fail "a refused --show left a file behind"

# --- Track text instead of the track files -------------------------------------
sed 's/^0 0.5 step$/0 0 step/' "$E2E_TMP/orange.tracks" >"$E2E_TMP/red.tracks"
run "$E2E_TMP/demo.err" --render 2 -o "$E2E_TMP/red.png" --size ${W}x$H --show "$dir" --tracks "$E2E_TMP/red.tracks" ||
  e2e_fail "--render with --tracks failed: $(cat "$E2E_TMP/demo.err")"
e2e_pixel_near "$E2E_TMP/red.png" $cx $cy 255 0 0 ||
  e2e_fail "--tracks did not take over from the track files: $(e2e_pixel "$E2E_TMP/red.png" $cx $cy)"
# The same text as the files gives the same bytes as the files.
run "$E2E_TMP/demo.err" --render 2 -o "$E2E_TMP/text.png" --size ${W}x$H --show "$dir" \
  --tracks "$E2E_TMP/orange.tracks" || e2e_fail "--render with --tracks failed"
cmp -s "$E2E_TMP/dir.png" "$E2E_TMP/text.png" || e2e_fail "the text and its compiled files drew different stills"

printf 'track control\n0 5 step\nnot a key\n' >"$E2E_TMP/broken.tracks"
for mode in "--render 2 -o $E2E_TMP/broken.png" "--capture $E2E_TMP/broken.mp4"; do
  # shellcheck disable=SC2086
  run "$E2E_TMP/demo.err" $mode --show "$dir" --tracks "$E2E_TMP/broken.tracks" &&
    e2e_fail "$mode with broken track text was not refused"
  grep -q "^$E2E_TMP/broken.tracks:3: " "$E2E_TMP/demo.err" ||
    e2e_fail "$mode: the error is not reported as FILE:LINE: $(cat "$E2E_TMP/demo.err")"
  grep -q "has errors; nothing written" "$E2E_TMP/demo.err" || e2e_fail "$mode: no word that nothing was written"
done
ls "$E2E_TMP" | grep -q '^broken\.\(png\|mp4\)' && e2e_fail "broken track text left an output file behind"
echo "PASS"
