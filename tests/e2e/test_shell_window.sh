#!/bin/bash
# The demo window covers the whole desktop, at 16:9 and at 4:3, asks to be
# fullscreen, shows the demo's picture from edge to edge, frames it 16:9
# (letterboxed on 4:3), and Escape ends it at once with code 0.
#
# In an empty show every track is 0, so the backdrop is a black 2 x 2 square
# at depth 4: with the 45 degree view it spans 1 / (4 tan 22.5) = 60.35 % of
# the 16:9 picture's height, and it is square only if the projection's aspect matches the viewport.
. "$(dirname "$0")/lib.sh"

BLUE="0 51 128"  # the frames' clear colour

check_desktop() {
  local w=$1 h=$2 band=$3 geometry x y tall wide
  e2e_start_xvfb "$w" "$h"
  e2e_make_show
  e2e_start_demo
  e2e_wait_window 30
  geometry=$(e2e_window_geometry)
  [ "$geometry" = "0 0 $w $h" ] || e2e_fail "${w}x${h}: window geometry is $geometry"
  # It asks a window manager for fullscreen, so that docks and panels kept
  # above ordinary windows do not cover the picture.
  xprop -id "$E2E_WINDOW" _NET_WM_STATE | grep -q '_NET_WM_STATE_FULLSCREEN' ||
    e2e_fail "${w}x${h}: no fullscreen asked for: $(xprop -id "$E2E_WINDOW" _NET_WM_STATE)"
  # Wait for the first demo frame, then check every corner and edge middle:
  # the clear colour reaches them all, bars of a letterboxed picture included.
  e2e_wait_pixel 0 0 $BLUE 8 30
  for x in 0 $((w / 2)) $((w - 1)); do
    for y in 0 $((h / 2)) $((h - 1)); do
      [ "$x" -eq $((w / 2)) ] && [ "$y" -eq $((h / 2)) ] && continue  # the backdrop sits there
      e2e_pixel_near "$E2E_TMP/last.png" "$x" "$y" $BLUE 8 ||
        e2e_fail "${w}x${h}: pixel ($x,$y) is $(e2e_pixel "$E2E_TMP/last.png" "$x" "$y")"
    done
  done
  tall=$(e2e_count_near "$E2E_TMP/last.png" "1x$h+$((w / 2))+0" 0 0 0)
  wide=$(e2e_count_near "$E2E_TMP/last.png" "${w}x1+0+$((h / 2))" 0 0 0)
  # 0.6035 of the band's height, within three pixels; as wide as tall.
  [ $(( (tall * 10000 - band * 6035) ** 2 <= 30000 ** 2 )) = 1 ] ||
    e2e_fail "${w}x${h}: backdrop is $tall pixels tall, not 0.6035 of a $band band"
  [ $(( (tall - wide) ** 2 <= 9 )) = 1 ] ||
    e2e_fail "${w}x${h}: backdrop is ${wide}x$tall, not square: wrong aspect"
  cp "$E2E_TMP/last.png" "$E2E_TMP/shell_${w}x${h}.png"
  e2e_artifact "$E2E_TMP/shell_${w}x${h}.png"
  e2e_key Escape
  e2e_expect_exit 20 "Escape on a ${w}x${h} screen"
  kill "$E2E_XVFB_PID" && wait "$E2E_XVFB_PID" 2>/dev/null
  E2E_XVFB_PID=""
}

check_desktop 1920 1080 1080
check_desktop 1024 768 576
echo "PASS"
