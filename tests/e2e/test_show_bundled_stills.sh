#!/usr/bin/env bash
# The bundled show at three exact moments, rendered offscreen: each on the
# show's blue ground with something drawn over it, and no two alike. Each time
# lies just after a plane has faded out, so that the ground shows at the
# corners whatever the backdrop does.
. "$(dirname "$0")/lib.sh"

unset DISPLAY WAYLAND_DISPLAY
W=320 H=180
SHOW_BLUE="0 51 128"

e2e_make_show res
sums=()
for t in 14 31 47; do
  (cd "$E2E_SHOW" && "$DEMO_BIN" --render $t -o "$E2E_TMP/show$t.png" --size ${W}x$H) 2>>"$E2E_TMP/demo.err" ||
    e2e_fail "--render $t failed"
  e2e_artifact "$E2E_TMP/show$t.png"
  e2e_is_near "$(e2e_ground "$E2E_TMP/show$t.png")" "$SHOW_BLUE" ||
    e2e_fail "the show at $t s is not on the show's blue: ground $(e2e_ground "$E2E_TMP/show$t.png")"
  read -r r g b < <(e2e_mean "$E2E_TMP/show$t.png")
  e2e_is_near "$r $g $b" "$SHOW_BLUE" && e2e_fail "the show at $t s shows nothing but the ground"
  sums+=("$(md5sum <"$E2E_TMP/show$t.png" | cut -d' ' -f1)")
done
[ "${sums[0]}" != "${sums[1]}" ] && [ "${sums[1]}" != "${sums[2]}" ] && [ "${sums[0]}" != "${sums[2]}" ] ||
  e2e_fail "the show's pictures do not change over time"
echo "bundled show stills at 14, 31 and 47 s: on the show's blue, something drawn, all different"
