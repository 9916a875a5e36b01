#!/usr/bin/env bash
# demo.exe the way a person meets it, under Wine on a virtual X server:
#   1. the bundled show: the pink loading screen, then the show on its blue
#      ground; Escape ends it with exit code 0;
#   2. a backdrop holding a green JPEG (drawn by the system's picture loader),
#      tinted by its tracks to half green, in the middle of the blue ground;
#      the right button ends it with 0;
#   3. the same show with that JPEG missing: the slot stays empty (the backdrop
#      is drawn untextured in its tint) and the show runs on, until its control
#      track reaches 777 and it ends by itself with 0; the display is set to
#      144 dpi (150 %) for this one, where the DPI-aware window must still
#      cover the screen;
#   4. the bundled show in a folder named in Greek and Cyrillic (--show),
#      played until the show is drawn with none of its files reported; a
#      folder of such a name that is not there is refused with its name
#      spelt right on stderr; and --edit on track text named in Chinese,
#      whose save reaches the screen.
# Before them, demo.exe as a windowed program: redirected, its lines arrive
# and a refused command line ends it by itself with 2; with stderr going
# nowhere (no console, not a file) the refusal waits in a message box.
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
# Wine makes the program's UTF-16 command line from the locale's character
# set: in the C locale a name in Cyrillic would arrive as junk.
export LC_ALL=C.UTF-8
# The prefix's Wine server belongs to this test's X server: it goes with it.
# The prefix is shared with the display tests: its scale goes back to 100 %.
scaled=""
unscale() {
  [ -n "$scaled" ] && bash "$wine_run" "$prefix" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1
  scaled=""
}
trap 'unscale; wineserver -k 2>/dev/null; e2e_cleanup' EXIT

W=640 H=360
LOADING="255 51 128" BLUE="0 51 128"
cx=$((W / 2)) cy=$((H / 2))
e2e_start_xvfb $W $H

# --- 0. A windowed program that still reports ---------------------------------
# Each row: arguments, exit status, the stream that must hold the text, text.
while IFS='|' read -r args want stream text; do
  status=0
  (cd "$E2E_TMP" && timeout 60 bash "$wine_run" "$prefix" "$demo_exe" $args \
    >"$E2E_TMP/windowed.out" 2>"$E2E_TMP/windowed.err") || status=$?
  [ "$status" = "$want" ] ||
    e2e_fail "demo.exe $args ended with $status, expected $want (124: it waited, a message box?): $(cat "$E2E_TMP/windowed.err")"
  grep -qF -- "$text" "$E2E_TMP/windowed.$stream" ||
    e2e_fail "demo.exe $args: no '$text' on std$stream: $(cat "$E2E_TMP/windowed.$stream")"
done <<'ROWS'
--no-such-option|2|err|demo: startup: unknown option '--no-such-option'
--help|0|out|usage: demo
ROWS
# /dev/null is a device, not a file: to a program without a console, stderr
# goes nowhere.
(cd "$E2E_TMP" && exec bash "$wine_run" "$prefix" "$demo_exe" --no-such-option >/dev/null 2>/dev/null) &
box_pid=$!
box_shown() {
  kill -0 "$box_pid" 2>/dev/null || e2e_fail "demo.exe ended without a message box"
  box=$(xdotool search --onlyvisible --name '^demo$' 2>/dev/null | head -1)
  [ -n "$box" ]
}
e2e_wait_until 60 "the message box of a refused command line" box_shown
e2e_screenshot "$E2E_TMP/wine-message-box.png"
e2e_artifact "$E2E_TMP/wine-message-box.png"
xdotool windowactivate --sync "$box" key Return 2>/dev/null || xdotool key Return
status=0
# A deadline for the box to let the program go.
e2e_wait_until 30 "demo.exe to end once its message box is answered" \
  sh -c "! kill -0 $box_pid 2>/dev/null"
wait "$box_pid" || status=$?
[ "$status" = 2 ] || e2e_fail "demo.exe ended with $status after its message box, expected 2"

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

# --- 3. The same show without its picture, to its end, at 150 % -----------------
# Wine does not scale programs that are not DPI aware, so this cannot tell
# an aware window from an unaware one; it shows that nothing else changes.
scaled=1
bash "$wine_run" "$prefix" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f \
  >/dev/null 2>&1 || e2e_fail "could not set the display to 144 dpi"
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
! grep -q 'DPI awareness' "$E2E_TMP/demo.err" || e2e_fail "at 144 dpi: $(cat "$E2E_TMP/demo.err")"
unscale

# --- 4. Names outside any 8-bit code page --------------------------------------
folder="Ωmega демо"
rm -rf "$E2E_SHOW"
e2e_make_show res
mv "$E2E_SHOW/res" "$E2E_SHOW/$folder"
status=0
(cd "$E2E_SHOW" && timeout 60 bash "$wine_run" "$prefix" "$demo_exe" --show "$folder-x" \
  >"$E2E_TMP/refused.out" 2>"$E2E_TMP/refused.err") || status=$?
[ "$status" = 1 ] || e2e_fail "--show of a folder that is not there ended with $status, expected 1"
grep -qF -- "--show '$folder-x': no such folder" "$E2E_TMP/refused.err" ||
  e2e_fail "the refused folder is not named as spelt: $(cat "$E2E_TMP/refused.err")"

e2e_start_demo --show "$folder"
e2e_wait_window 60
e2e_wait_pixel 2 2 $BLUE 10 90
e2e_wait_until 40 "the show from '$folder' to draw over its ground" drawn
e2e_key Escape
e2e_expect_exit 20 "Escape, the show from '$folder'"
# Under Wine the music has no sound device (one line on the audio); every
# file of the show itself must have been read.
grep -E '^demo: (images|tracks|music|startup):' "$E2E_TMP/demo.err" &&
  e2e_fail "the show from '$folder' could not read all its files"

text="$folder/轨道.txt"
printf 'track back.r\n0 1 step\ntrack control\n0 0 step\n' >"$E2E_SHOW/$text"
e2e_start_demo --show "$folder" --edit "$text"
e2e_wait_window 60
e2e_wait_until 60 "demo --edit to watch $text" grep -qF "watching $text for saves" "$E2E_TMP/demo.err"
printf 'track back.r\n0 0.5 step\ntrack control\n0 0 step\n' >"$E2E_SHOW/$text"
e2e_wait_until 30 "the save of $text to reach the screen" \
  grep -qF "edit: $text: new tracks on screen" "$E2E_TMP/demo.err"
e2e_key Escape
e2e_expect_exit 20 "Escape, demo --edit $text"
echo "PASS"
