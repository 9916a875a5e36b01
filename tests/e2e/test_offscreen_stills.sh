#!/usr/bin/env bash
# `demo --render` with no display at all: stills of a show made for the test,
# checked pixel by pixel at chosen times. An orange, untextured backdrop sits
# in the middle on the blue clear colour until 5 s; then plane B fades in with
# a plain green image, and its tiles grow with the number of frames a viewer
# at --fps would have seen. The same command writes the same bytes; refusals
# leave no file behind.
. "$(dirname "$0")/lib.sh"

unset DISPLAY WAYLAND_DISPLAY
W=320 H=180
e2e_make_show
convert -size 64x64 xc:'#00ff00' "$E2E_SHOW/res/atari_st_bee.gif" || e2e_fail "cannot make the test image"
cat >"$E2E_TMP/show.txt" <<'TRACKS'
track control
0 0 step
100 5 step
700 777 step
track back.n
0 100 step
track back.r
0 1 step
track back.g
0 0.5 step
track back.x
0 0 step
100 10 step
track scroll.y
0 100 step
TRACKS
"$DEMOTOOL_BIN" track build "$E2E_TMP/show.txt" "$E2E_SHOW/res" >/dev/null ||
  e2e_fail "demotool could not build the tracks"

render() {  # render TIME FILE [more options]
  local time=$1 file=$2
  shift 2
  (cd "$E2E_SHOW" && "$DEMO_BIN" --render "$time" -o "$file" --size ${W}x$H "$@") 2>>"$E2E_TMP/demo.err" ||
    e2e_fail "--render $time $* failed"
  [ -f "$file" ] || e2e_fail "--render $time wrote no $file"
}
green() { e2e_count_near "$1" ${W}x$H+0+0 0 255 0 12; }

# --- The backdrop: its tint and its place, on the clear colour --------------
render 2 "$E2E_TMP/backdrop.png"
e2e_artifact "$E2E_TMP/backdrop.png"
shot="$E2E_TMP/backdrop.png"
cx=$((W / 2)) cy=$((H / 2))
for p in "$cx $cy" "$cx $((cy - H * 28 / 100))" "$((cx + W * 16 / 100)) $cy" "$((cx - W * 16 / 100)) $cy"; do
  set -- $p
  e2e_pixel_near "$shot" "$1" "$2" 255 128 0 || e2e_fail "($1, $2) should be the orange backdrop: $(e2e_pixel "$shot" "$1" "$2")"
done
for p in "2 2" "$((W - 3)) $((H - 3))" "$cx $((cy - H * 32 / 100))" "$((cx + W * 18 / 100)) $cy"; do
  set -- $p
  e2e_pixel_near "$shot" "$1" "$2" 0 51 128 || e2e_fail "($1, $2) should be the clear colour: $(e2e_pixel "$shot" "$1" "$2")"
done

# --- The plane's fade, as a viewer at --fps frames per second would see it ----
# At 5 s the plane is only armed (nothing shows); half a second later a viewer
# at 60 fps has seen 30 steps of the fade, one at 15 fps 8; at 10 s the fade
# has run its 201 steps.
render 5 "$E2E_TMP/armed.png"
render 5.5 "$E2E_TMP/early60.png"
render 5.5 "$E2E_TMP/early15.png" --fps 15
render 10 "$E2E_TMP/full.png"
render 10 "$E2E_TMP/again.png"
e2e_artifact "$E2E_TMP/full.png"
armed=$(green "$E2E_TMP/armed.png") early60=$(green "$E2E_TMP/early60.png")
early15=$(green "$E2E_TMP/early15.png") full=$(green "$E2E_TMP/full.png")
e2e_note "green pixels: armed $armed, 5.5 s at 15 fps $early15, at 60 fps $early60, faded in $full"
[ "$armed" -eq 0 ] || e2e_fail "the plane shows on the frame that arms it ($armed green pixels)"
e2e_pixel_near "$E2E_TMP/armed.png" $cx $cy 0 51 128 || e2e_fail "the backdrop should have left at 5 s"
[ "$early15" -gt 0 ] && [ "$early15" -lt "$early60" ] && [ "$early60" -lt "$full" ] ||
  e2e_fail "the tiles do not grow with the frames seen ($early15 < $early60 < $full expected)"
[ "$full" -gt $((W * H / 4)) ] || e2e_fail "the faded-in plane covers only $full pixels"
cmp -s "$E2E_TMP/full.png" "$E2E_TMP/again.png" || e2e_fail "the same --render wrote different bytes"

# --- Refusals: a clear line, a non-zero exit, no file --------------------------
mkdir "$E2E_TMP/out"
refuse() {  # refuse EXPECTED_CODE WORD ARGS...: the run fails with that code and says WORD
  local code=$1 word=$2 got
  shift 2
  (cd "$E2E_SHOW" && "$DEMO_BIN" "$@") >/dev/null 2>"$E2E_TMP/refusal.err" && e2e_fail "demo $* succeeded"
  got=$?
  [ "$code" = any ] || [ "$got" -eq "$code" ] || e2e_fail "demo $*: exit code $got, not $code"
  grep -qi -- "$word" "$E2E_TMP/refusal.err" || e2e_fail "demo $*: no '$word' in: $(cat "$E2E_TMP/refusal.err")"
}
refuse 2 "size" --render 2 -o "$E2E_TMP/out/a.png" --size 0x100
refuse 2 "fps" --render 2 -o "$E2E_TMP/out/a.png" --fps 0
refuse 2 "usage" --render 2 -o "$E2E_TMP/out/a.png" --colour red
refuse 2 "-o" --render 2
refuse 1 "limit" --render 2 -o "$E2E_TMP/out/a.png" --size 30000x30000
refuse 1 "folder" --render 2 -o "$E2E_TMP/out"
refuse 1 "cannot write" --render 2 -o "$E2E_TMP/missing/a.png" --size 64x36
refuse 1 "777" --render 40 -o "$E2E_TMP/out/a.png" --size 64x36
chmod a-w "$E2E_TMP/out"
if [ ! -w "$E2E_TMP/out" ]; then  # root writes anywhere: nothing to check then
  refuse 1 "cannot write" --render 2 -o "$E2E_TMP/out/a.png" --size 64x36
fi
chmod u+w "$E2E_TMP/out"
[ -z "$(ls -A "$E2E_TMP/out")" ] || e2e_fail "refused renders left files: $(ls -A "$E2E_TMP/out")"
echo "stills: backdrop tint and place; fade replay at 15 and 60 fps ($early15 < $early60 < $full); identical bytes; refusals"
