#!/usr/bin/env bash
# demo.exe the way a person meets it, under Wine on a virtual X server:
#   1. the bundled show: the pink loading screen, then the show on its blue
#      ground; Escape ends it with exit code 0;
#   2. a backdrop holding a green JPEG (drawn by the system's picture loader),
#      tinted by its tracks to half green, in the middle of the blue ground;
#      the right button ends it with 0;
#   3. the same show with that JPEG missing: the slot stays empty (the backdrop
#      is drawn untextured in its tint) and the show runs on, until its control
#      track reaches 777 and it ends by itself with 0.
#   e2e_wine.sh DEMO.EXE LINUX_DEMOTOOL WINE_RUN PREFIX
# The Linux demotool builds the tracks; without it the test is skipped (77).
# Screenshots are kept under E2E_ARTIFACTS when that is set.
demo_exe=$1 demotool=$2 wine_run=$3 prefix=$4
if [ ! -x "$demotool" ]; then
  echo "e2e_wine: no Linux demotool at $demotool to build the tracks with" >&2
  exit 77
fi
export DEMO_BIN=$demo_exe DEMOTOOL_BIN=$demotool
. "$(dirname "$0")/../e2e/lib.sh"
# Wine starts the program through its loader: the window is found by its
# class (the executable's name), not by the process id.
E2E_LAUNCHER="bash $wine_run $prefix"
E2E_WINDOW_CLASS=$(basename "$demo_exe")
export WINEPREFIX=$prefix WINEDEBUG=-all
# The prefix's Wine server belongs to this test's X server: it goes with it.
trap 'wineserver -k 2>/dev/null; e2e_cleanup' EXIT

W=640 H=360
LOADING="255 51 128" BLUE="0 51 128"
cx=$((W / 2)) cy=$((H / 2))
e2e_start_xvfb $W $H

# --- 1. The bundled show -------------------------------------------------------
e2e_make_show res
e2e_start_demo
e2e_wait_window 60
e2e_wait_pixel 2 2 $LOADING 10 60
cp "$E2E_TMP/last.png" "$E2E_TMP/wine-loading.png"
e2e_artifact "$E2E_TMP/wine-loading.png"
e2e_wait_pixel 2 2 $BLUE 10 90
# The show draws over its ground: at least 1% of the screen becomes something
# else (its first pictures are small tiles, a few per cent).
drawn() {
  e2e_screenshot "$E2E_TMP/wine-show.png"
  ground=$(e2e_count_near "$E2E_TMP/wine-show.png" ${W}x${H}+0+0 $BLUE 10)
  [ $((ground * 100)) -lt $((W * H * 99)) ]
}
e2e_wait_until 40 "the show to draw over its ground" drawn
e2e_artifact "$E2E_TMP/wine-show.png"
e2e_key Escape
e2e_expect_exit 20 Escape

# --- 2. A tinted backdrop with a system-decoded picture ------------------------
rm -rf "$E2E_SHOW"
e2e_make_show
res=$E2E_SHOW/res
convert -size 32x32 'xc:rgb(0,200,0)' -quality 95 "$res/dravel.jpg" || e2e_fail "convert could not make the JPEG"
cat >"$E2E_TMP/show.txt" <<'TRACKS'
track back.n
0 1 step
track back.r
0 1 step
track back.g
0 0.5 step
track back.b
0 0.25 step
track control
0 0 step
400 777 step
TRACKS
"$DEMOTOOL_BIN" track build "$E2E_TMP/show.txt" "$res" >/dev/null || e2e_fail "demotool could not build the tracks"
e2e_start_demo
e2e_wait_window 60
e2e_wait_pixel 2 2 $BLUE 10 60
# The backdrop's middle: the tinted green of the picture.
e2e_wait_pixel $cx $cy 0 100 0 12 30
cp "$E2E_TMP/last.png" "$E2E_TMP/wine-tinted.png"
e2e_artifact "$E2E_TMP/wine-tinted.png"
e2e_click 3
e2e_expect_exit 20 "a right click"

# --- 3. The same show without its picture, to its end ---------------------------
rm "$res/dravel.jpg"
sed -i 's/^400 777/120 777/' "$E2E_TMP/show.txt"
"$DEMOTOOL_BIN" track build "$E2E_TMP/show.txt" "$res" >/dev/null || e2e_fail "demotool could not build the tracks"
e2e_start_demo
e2e_wait_window 60
e2e_wait_pixel 2 2 $BLUE 10 60
cp "$E2E_TMP/last.png" "$E2E_TMP/wine-missing.png"
e2e_artifact "$E2E_TMP/wine-missing.png"
e2e_pixel_near "$E2E_TMP/wine-missing.png" $cx $cy 255 128 64 12 ||
  e2e_fail "the empty slot's backdrop is $(e2e_pixel "$E2E_TMP/wine-missing.png" $cx $cy), not its bare tint 255 128 64"
e2e_expect_exit 30 "the start of a show whose control track reaches 777"
echo "PASS"
