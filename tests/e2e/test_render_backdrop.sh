#!/usr/bin/env bash
# The real demo composes its frames from the show's tracks: a backdrop with no
# texture (slot 100 lies outside the table) tinted red sits in the middle of
# the picture, 60 % of its height and 34 % of its width, on the blue clear
# colour, with the scroll line's first words in the lower part.
. "$(dirname "$0")/lib.sh"

W=640
H=360
e2e_start_xvfb $W $H
e2e_make_show

# scroll.x 49 has pulled the line's first pieces, a word spelled out letter
# by letter, across to the left edge.
cat >"$E2E_TMP/show.txt" <<'TRACKS'
track control
0 0 step
track back.n
0 100 step
track back.r
0 1 step
track scroll.x
0 49 step
TRACKS
"$DEMOTOOL_BIN" track build "$E2E_TMP/show.txt" "$E2E_SHOW/res" >/dev/null ||
  e2e_fail "demotool could not build the tracks"

e2e_start_demo
e2e_wait_window 30
# Wait for a demo frame: the loading screen's clear colour is pink.
e2e_wait_pixel 2 2 0 51 128 8 60
shot="$E2E_TMP/frame.png"
cp "$E2E_TMP/last.png" "$shot"
e2e_artifact "$shot"

# Inside and just outside the square's edges (at 0.60 H and 0.34 W).
cx=$((W / 2)) cy=$((H / 2))
in_y=$((H * 28 / 100)) out_y=$((H * 32 / 100))
in_x=$((W * 16 / 100)) out_x=$((W * 18 / 100))
for p in "$cx $cy" "$cx $((cy - in_y))" "$cx $((cy + in_y))" "$((cx - in_x)) $cy" "$((cx + in_x)) $cy"; do
  set -- $p
  e2e_pixel_near "$shot" "$1" "$2" 255 0 0 ||
    e2e_fail "($1, $2) should be the red backdrop: $(e2e_pixel "$shot" "$1" "$2")"
done
for p in "$cx $((cy - out_y))" "$((cx - out_x)) $cy" "$((cx + out_x)) $cy"; do
  set -- $p
  e2e_pixel_near "$shot" "$1" "$2" 0 51 128 ||
    e2e_fail "($1, $2) should be the clear colour: $(e2e_pixel "$shot" "$1" "$2")"
done

# The text: white glyphs in the band just above the baseline (0.35 below the
# axis at depth 1, where the view's half-height is 0.414).
base=$(( cy + cy * 35 / 41 ))
white=$(convert "$shot" -crop "${W}x$((H / 20))+0+$((base - H / 20))" +repage \
  -fuzz 4% -fill black +opaque white -format '%[fx:mean]' info:)
awk "BEGIN { exit !($white > 0.01) }" ||
  e2e_fail "no white text just above the baseline at row $base (white share $white)"
white=$(convert "$shot" -crop "${W}x$((H / 4))+0+0" +repage \
  -fuzz 4% -fill black +opaque white -format '%[fx:mean]' info:)
awk "BEGIN { exit !($white == 0) }" || e2e_fail "white pixels in the top quarter (share $white)"

e2e_key Escape
e2e_expect_exit 20 Escape
echo "PASS"
