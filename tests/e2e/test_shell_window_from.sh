#!/bin/bash
# --window opens an ordinary window of the asked size on a larger desktop and
# frames the picture for the window (a 4:3 window gets the 16:9 band);
# --from starts the show part-way, in seconds, m:ss or rows.
#
# The show: the backdrop (untextured: no images) is red up to row 600 and blue
# from there, so the colour in the window's middle tells which side of 30 s the
# show started on.
. "$(dirname "$0")/lib.sh"

BLUE="0 51 128"  # the clear colour
e2e_start_xvfb 1024 768
e2e_make_show
printf 'track back.r\n0 1 step\n600 0 step\ntrack back.b\n0 0 step\n600 1 step\n' >"$E2E_TMP/show.tracks"
"$DEMOTOOL_BIN" track build "$E2E_TMP/show.tracks" "$E2E_SHOW/res" >/dev/null ||
  e2e_fail "demotool could not build the tracks"

run() {  # expected-colour window-args...
  local colour=$1 x y w h
  shift
  e2e_start_demo "$@"
  e2e_wait_window 30
  read -r x y w h < <(e2e_window_geometry)
  [ "$w $h" = "400 300" ] || e2e_fail "$*: window is ${w}x$h, not 400x300"
  # Inside the window: the backdrop's colour in the middle, the clear colour
  # in the letterbox bars (the 16:9 band of a 400 wide window is 225 high).
  e2e_wait_pixel $((x + w / 2)) $((y + h / 2)) $colour 8 30
  e2e_pixel_near "$E2E_TMP/last.png" $((x + 2)) $((y + 10)) $BLUE 8 ||
    e2e_fail "$*: the bar above the band is $(e2e_pixel "$E2E_TMP/last.png" $((x + 2)) $((y + 10)))"
  # The backdrop is 60 % of the band's height (225), not of the window's.
  local tall
  tall=$(e2e_count_near "$E2E_TMP/last.png" "1x$h+$((x + w / 2))+$y" $colour 8)
  [ $(( (tall - 136) ** 2 <= 9 )) = 1 ] || e2e_fail "$*: backdrop is $tall pixels tall, not 136"
  # Outside the window the desktop stays as it was.
  e2e_pixel_near "$E2E_TMP/last.png" 2 2 0 0 0 0 ||
    e2e_fail "$*: the desktop outside the window is $(e2e_pixel "$E2E_TMP/last.png" 2 2)"
  cp "$E2E_TMP/last.png" "$E2E_TMP/window_from_${colour// /_}.png" && e2e_artifact "$E2E_TMP/window_from_${colour// /_}.png"
  e2e_key Escape
  e2e_expect_exit 20 "Escape ($*)"
}

run "255 0 0" --window 400x300
run "0 0 255" --window=400x300 --from 0:31
run "255 0 0" --from r200 --window 400x300
echo PASS
