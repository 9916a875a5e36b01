#!/bin/bash
# How long a save takes to reach the screen in `demo --edit`: the bundled show's
# track text is saved again and again with the backdrop's slot changed, and the
# demo's own report ("new tracks on screen N ms after the save": from the
# file's modification time to the first frame presented with the new tracks)
# is collected. Prints the median, the smallest and the largest.
#
#   bench/edit_reload.sh [SAVES] [WxH]     (defaults: 20 saves, 1280x720)
#
# Runs the real binary under Xvfb with the software renderer, so the figure
# includes a frame of the bundled show drawn by it.
. "$(dirname "$0")/../tests/e2e/lib.sh"

saves=${1:-20}
size=${2:-1280x720}
e2e_start_xvfb "${size%x*}" "${size#*x}"
e2e_make_show res
src="$E2E_SHOW/show.tracks"
cp "$DEMO_SOURCE_DIR/res/src/show.tracks" "$src"
e2e_start_demo --edit show.tracks --window "$size"
e2e_wait_window 60
until grep -q 'watching show.tracks' "$E2E_TMP/demo.err"; do
  e2e_still_running || e2e_fail "the demo ended"
  sleep 0.1
done
sleep 1  # past the first frames

for i in $(seq "$saves"); do
  # The first key of back.n: slot 1 and slot 2 by turns.
  sed -i "0,/^  0      [12]          step/s//  0      $((i % 2 + 1))          step/" "$src"
  deadline=$(($(date +%s) + 10))
  until [ "$(grep -c 'new tracks on screen' "$E2E_TMP/demo.err")" -ge "$i" ]; do
    [ "$(date +%s)" -lt "$deadline" ] || e2e_fail "save $i: no new tracks on screen within 10 s"
    sleep 0.05
  done
  sleep 0.3
done
e2e_key Escape
e2e_wait_exit 10

grep -o 'on screen [0-9]* ms' "$E2E_TMP/demo.err" | tr -dc '0-9\n' | sort -n | awk '
  { v[NR] = $1 }
  END {
    if (NR == 0) { print "no reloads reported"; exit 1 }
    printf "reloads: %d, median %d ms, min %d ms, max %d ms\n", NR, v[int((NR + 1) / 2)], v[1], v[NR]
  }'
