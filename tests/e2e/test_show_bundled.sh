#!/usr/bin/env bash
# The bundled show the way a viewer meets it: the loading screen or the show
# from the first picture on, then the show's own blue ground with pictures that
# change over time; Escape works before the show has even started; and the
# show's end through the control track, on a copy whose end comes early.
. "$(dirname "$0")/lib.sh"

W=640 H=360
LOADING="255 51 128" SHOW_BLUE="0 51 128"

e2e_start_xvfb $W $H

# --- 1. The first picture and the running show --------------------------------
e2e_make_show res
e2e_start_demo
e2e_wait_window 30
# Until the first swap the window may still be black.
first_picture() {
  e2e_screenshot "$E2E_TMP/first.png"
  first=$(e2e_ground "$E2E_TMP/first.png")
  [ "$first" != "0 0 0" ] && return 0
  e2e_still_running || e2e_fail "the demo ended during start-up"
  return 1
}
e2e_wait_until 60 "the window's first picture" first_picture
e2e_is_near "$first" "$LOADING" || e2e_is_near "$first" "$SHOW_BLUE" ||
  e2e_fail "the first picture is neither the loading screen nor the show: ground $first"
e2e_artifact "$E2E_TMP/first.png"

# Wait for the show, then for three different pictures in which something
# besides the ground is drawn. The show's first seconds hold only the ground
# (the backdrop starts at size 0 and nothing has faded in yet), and how many
# of them a screenshot catches depends on how fast this machine draws and
# captures, so the test waits for the pictures instead of taking them at
# fixed times.
on_ground() {  # on_ground FILE "R G B" WHEN: a screenshot on that ground
  e2e_screenshot "$1"
  e2e_is_near "$(e2e_ground "$1")" "$2" && return 0
  e2e_still_running || e2e_fail "the demo ended $3"
  return 1
}
e2e_wait_until 120 "the show's blue ground" on_ground "$E2E_TMP/show0.png" "$SHOW_BLUE" "before the show began"
sums=()
n=0
three_pictures() {  # one more screenshot; true once three different ones are in
  n=$((n + 1))
  e2e_still_running || e2e_fail "the demo ended during the show"
  e2e_screenshot "$E2E_TMP/show.png"
  e2e_is_near "$(e2e_ground "$E2E_TMP/show.png")" "$SHOW_BLUE" ||
    e2e_fail "picture $n of the show is not on the show's blue: ground $(e2e_ground "$E2E_TMP/show.png")"
  # Something besides the ground is drawn: the mean differs from pure blue.
  read -r r g b < <(e2e_mean "$E2E_TMP/show.png")
  e2e_is_near "$r $g $b" "$SHOW_BLUE" && return 1
  sum=$(convert "$E2E_TMP/show.png" -depth 8 rgb:- | md5sum | cut -d' ' -f1)
  if [ "${#sums[@]}" -eq 0 ] || [ "${sums[-1]}" != "$sum" ]; then
    sums+=("$sum")
    cp "$E2E_TMP/show.png" "$E2E_TMP/show${#sums[@]}.png"
    e2e_artifact "$E2E_TMP/show${#sums[@]}.png"
  fi
  E2E_WAIT_NOTE="${#sums[@]} different picture(s) with more than the ground"
  [ "${#sums[@]}" -ge 3 ]
}
e2e_wait_until 90 "three different pictures of the show" three_pictures
E2E_WAIT_NOTE=""
e2e_key Escape
e2e_expect_exit 30 "Escape during the show"

# --- 2. Escape during loading -------------------------------------------------
# Messages wait in the queue while the images load; the loop's first pass
# takes the Escape and the show ends before it gets going. The first image is
# a named pipe, so loading stands still at it until the test has seen the
# loading screen and pressed Escape, however fast this machine loads.
rm -rf "$E2E_SHOW"
e2e_make_show res
first_image=$E2E_SHOW/res/vorn.gif
mv "$first_image" "$E2E_TMP/first_image"
mkfifo "$first_image" || e2e_fail "cannot make a named pipe"
e2e_start_demo
e2e_wait_window 30
e2e_wait_until 50 "the loading screen" on_ground "$E2E_TMP/loading.png" "$LOADING" "during start-up"
e2e_key Escape
# The demo waits at the pipe for the image: hand it over.
timeout 30 sh -c 'cat "$1" >"$2"' - "$E2E_TMP/first_image" "$first_image" || e2e_fail "the demo never read its first image"
e2e_expect_exit 60 "Escape during loading"

# --- 3. The end of the show through the control track -------------------------
rm -rf "$E2E_SHOW"
e2e_make_show res
"$DEMOTOOL_BIN" track dump "$E2E_SHOW/res/steak_control.track" >"$E2E_TMP/control.txt" ||
  e2e_fail "demotool could not dump the control track"
# The bundled scenes up to row 100 (five seconds), then the end.
awk '$1 == "track" || ($1 ~ /^-?[0-9]+$/ && $1 < 100)' "$E2E_TMP/control.txt" >"$E2E_TMP/short.txt"
echo "100 777 step" >>"$E2E_TMP/short.txt"
"$DEMOTOOL_BIN" track build "$E2E_TMP/short.txt" "$E2E_SHOW/res" >&2 ||
  e2e_fail "demotool could not build the shortened control track"
e2e_start_demo
e2e_wait_window 30
e2e_expect_exit 90 "the start of a show that ends at row 100"
echo "bundled show: first picture ground $first; show changes; Escape during loading; end at row 100"
