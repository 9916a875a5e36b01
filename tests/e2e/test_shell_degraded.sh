#!/bin/bash
# Without a display the demo says so in one line and ends with code 1 instead
# of playing to nobody; without any font it runs without text, says so, and
# still ends with code 0 on Escape.
. "$(dirname "$0")/lib.sh"

BLUE="0 51 128"

e2e_make_show
(cd "$E2E_SHOW" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER \
  XDG_RUNTIME_DIR="$E2E_TMP" SDL_AUDIODRIVER=dummy timeout 20 "$DEMO_BIN" \
  >"$E2E_TMP/nodisplay.out" 2>"$E2E_TMP/nodisplay.err")
code=$?
[ "$code" = 1 ] || e2e_fail "no display: exit code $code, expected 1"
[ "$(grep -c '^demo: display: no display' "$E2E_TMP/nodisplay.err")" = 1 ] ||
  e2e_fail "no display: no single 'demo: display: no display' line in: $(cat "$E2E_TMP/nodisplay.err")"

# A start past the end of the music is refused at once, before the display
# is even looked for, instead of ending silently after the loading screen.
cp "$DEMO_SOURCE_DIR/res/"*.mp3 "$E2E_SHOW/res/"
(cd "$E2E_SHOW" && exec env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy timeout 20 "$DEMO_BIN" \
  --from 9:00 2>"$E2E_TMP/late.err")
code=$?
[ "$code" = 1 ] || e2e_fail "--from 9:00: exit code $code, expected 1"
grep -q '^demo: startup: --from 9:00.00 is past the end of the music (2:1[0-9].[0-9][0-9]); nothing to play$' \
  "$E2E_TMP/late.err" || e2e_fail "--from 9:00: no word about the music's end in: $(cat "$E2E_TMP/late.err")"
rm "$E2E_SHOW/res/"*.mp3

# A font configuration that knows no fonts at all.
printf '<?xml version="1.0"?>\n<fontconfig><cachedir>%s/fc-cache</cachedir></fontconfig>\n' \
  "$E2E_TMP" >"$E2E_TMP/no-fonts.conf"
export FONTCONFIG_FILE="$E2E_TMP/no-fonts.conf"
e2e_start_xvfb 640 360
e2e_start_demo
e2e_wait_window 30
e2e_wait_pixel 0 0 $BLUE 8 30
grep -q '^demo: fonts: no font found for "Arial"' "$E2E_TMP/demo.err" || e2e_fail "no word about the missing font"
e2e_key Escape
e2e_wait_exit 20 || e2e_fail "still running after Escape"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "exit code $E2E_EXIT_CODE after Escape without fonts"
echo PASS
