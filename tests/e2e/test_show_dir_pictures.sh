#!/usr/bin/env bash
# demo --edit loads a picture again when its file changes: the backdrop,
# textured with slot 0, turns from green to blue without a restart. A picture
# that cannot be read then keeps the blue texture, with one line that says so.
. "$(dirname "$0")/lib.sh"

W=320 H=180
cx=$((W / 2)) cy=$((H / 2))
e2e_start_xvfb $W $H
e2e_make_show
dir="$E2E_TMP/pictures"
mkdir -p "$dir"
convert -size 64x64 xc:'#00ff00' "$dir/vorn.gif" || e2e_fail "cannot make the test image"
cat >"$E2E_TMP/show.tracks" <<'TRACKS'
track back.n
0 0 step
track back.r
0 1 step
track back.g
0 1 step
track back.b
0 1 step
track scroll.y
0 100 step
TRACKS

e2e_start_demo --edit "$E2E_TMP/show.tracks" --show "$dir" --window ${W}x$H
e2e_wait_window 60
e2e_wait_pixel $cx $cy 0 255 0 12 60

# Written under another name and renamed over the old, as drawing programs do.
convert -size 64x64 xc:'#0000ff' "$dir/new.gif" && mv "$dir/new.gif" "$dir/vorn.gif"
e2e_wait_pixel $cx $cy 0 0 255 12 20
grep -q "^demo: edit: $dir/vorn.gif: new picture on screen$" "$E2E_TMP/demo.err" ||
  e2e_fail "no word of the new picture"

printf 'GIF89a, but nothing more' >"$dir/vorn.gif"
said() { [ "$(grep -c "vorn.gif.*it keeps its old picture" "$E2E_TMP/demo.err")" -ge 1 ]; }
e2e_wait_until 20 "a word that the damaged picture was not taken" said
sleep 1  # a second message would come with the next looks
[ "$(grep -c 'vorn.gif' "$E2E_TMP/demo.err" | tr -d ' ')" = 2 ] ||
  e2e_fail "expected one line for the new picture and one for the damaged one: $(grep vorn.gif "$E2E_TMP/demo.err")"
e2e_screenshot "$E2E_TMP/kept.png"
e2e_pixel_near "$E2E_TMP/kept.png" $cx $cy 0 0 255 12 ||
  e2e_fail "the damaged picture did not keep the old texture: $(e2e_pixel "$E2E_TMP/kept.png" $cx $cy)"
e2e_still_running || e2e_fail "the demo ended"
e2e_key Escape
e2e_expect_exit 20 "Escape"
echo "PASS"
