#!/usr/bin/env bash
# Pictures on the backdrop: a show whose tracks hold the backdrop still, at its
# natural size, untinted, shows a GIF (system route), a JPEG (system route) and
# a PNG (our own route), one run each. Each picture has four quadrants of
# known colour, so the screenshots show colour, transparency (the GIF's
# transparent index and its black, keyed away; the PNG's own alpha, partial
# included) and orientation (top left stays top left).
. "$(dirname "$0")/lib.sh"

W=640
H=360  # 16:9: no letterbox, so the backdrop square spans the middle 60 % of the height
e2e_start_xvfb $W $H
e2e_make_show
res="$E2E_SHOW/res"

# 2:1 pictures: the square stretches them to fill it.
convert -size 32x16 xc:yellow xc:magenta +append \
  \( -size 32x16 xc:blue xc:black +append \) -append -transparent magenta "$res/vorn.gif" ||
  e2e_fail "convert could not make the GIF"
convert -size 32x16 'xc:rgb(255,128,0)' 'xc:rgb(0,200,0)' +append \
  \( -size 32x16 'xc:rgb(160,0,200)' xc:white +append \) -append -quality 95 "$res/dravel.jpg" ||
  e2e_fail "convert could not make the JPEG"
convert -size 32x16 'xc:rgb(255,0,0)' 'xc:rgba(255,255,255,0.5)' +append \
  \( -size 32x16 'xc:rgb(0,255,0)' xc:none +append \) -append "PNG32:$res/grlsch.png" ||
  e2e_fail "convert could not make the PNG"
for f in nightbacon.gif atari_st_bee.gif poubell.gif; do cp "$res/vorn.gif" "$res/$f"; done
cp "$res/dravel.jpg" "$res/tile.jpg"

background="0 51 128"  # the frame's clear colour
# Quadrant centres of the backdrop square: it is 2 units wide at depth 4,
# where the view spans 2 x 1.657 units over the height, so half an edge is
# 180 / 1.657 = 108.6 pixels.
cx=$((W / 2))
cy=$((H / 2))
q=54
tl="$((cx - q)) $((cy - q))"
tr="$((cx + q)) $((cy - q))"
bl="$((cx - q)) $((cy + q))"
br="$((cx + q)) $((cy + q))"
outside="$((cx - 160)) $cy"

show_slot() {
  local slot=$1 src="$E2E_TMP/tracks.txt"
  printf 'track back.n\n0 %s step\ntrack back.r\n0 1 step\ntrack back.g\n0 1 step\ntrack back.b\n0 1 step\n' \
    "$slot" >"$src"
  "$DEMOTOOL_BIN" track build "$src" "$res" >/dev/null || e2e_fail "demotool could not build the tracks"
}

expect() {  # name file "x y" "r g b" [tol]
  local name=$1 file=$2 x y r g b
  read -r x y <<<"$3"
  read -r r g b <<<"$4"
  e2e_pixel_near "$file" "$x" "$y" "$r" "$g" "$b" "${5:-10}" ||
    e2e_fail "$name at ($x,$y) is $(e2e_pixel "$file" "$x" "$y"), expected about $r $g $b"
}

run_show() {  # name slot first-colour
  local name=$1 slot=$2
  show_slot "$slot"
  e2e_start_demo
  e2e_wait_window 30
  local x y r g b
  read -r x y <<<"$tl"
  read -r r g b <<<"$3"
  e2e_wait_pixel "$x" "$y" "$r" "$g" "$b" 16 60
  sleep 0.5
  e2e_screenshot "$E2E_TMP/$name.png"
  e2e_artifact "$E2E_TMP/$name.png"
}

finish_show() {
  e2e_key Escape
  e2e_expect_exit 20 Escape
}

# GIF: yellow | transparent index
#      blue   | black (colour key)
run_show gif 0 "255 255 0"
shot="$E2E_TMP/gif.png"
expect "GIF top left" "$shot" "$tl" "255 255 0"
expect "GIF top right (transparent index)" "$shot" "$tr" "$background"
expect "GIF bottom left" "$shot" "$bl" "0 0 255"
expect "GIF bottom right (black keyed)" "$shot" "$br" "$background"
expect "around the backdrop" "$shot" "$outside" "$background"
finish_show

# JPEG: orange | green
#       purple | white
run_show jpeg 1 "255 128 0"
shot="$E2E_TMP/jpeg.png"
expect "JPEG top left" "$shot" "$tl" "255 128 0" 16
expect "JPEG top right" "$shot" "$tr" "0 200 0" 16
expect "JPEG bottom left" "$shot" "$bl" "160 0 200" 16
expect "JPEG bottom right" "$shot" "$br" "255 255 255" 16
finish_show

# PNG:  red (not keyed: own alpha) | white at half alpha
#       green                      | transparent
run_show png 3 "255 0 0"
shot="$E2E_TMP/png.png"
expect "PNG top left (pure red stays)" "$shot" "$tl" "255 0 0"
expect "PNG top right (half alpha)" "$shot" "$tr" "128 153 192"
expect "PNG bottom left" "$shot" "$bl" "0 255 0"
expect "PNG bottom right (alpha 0)" "$shot" "$br" "$background"
finish_show

[ -s "$E2E_TMP/demo.out" ] && e2e_fail "demo wrote to stdout: $(head -c 200 "$E2E_TMP/demo.out")"
exit 0
