#!/usr/bin/env bash
# demo.exe under Wine with its music damaged, one way a run: cut in half (as
# an interrupted copy leaves it), emptied, and replaced by random bytes. Each
# run names the file in one line on stderr and plays on to the control
# track's end code at 2 s, ending by itself with 0. Wine here has no sound
# device, so this is the path without one; the device's side is in
# platform_tests (AudioDamagedMusicTest, on a stand-in device).
#   music_wine.sh DEMO.EXE LINUX_DEMOTOOL WINE_RUN PREFIX
# The Linux demotool builds the control track; without it the test is
# skipped (77).
demo_exe=$1 demotool=$2 wine_run=$3 prefix=$4
if [ ! -x "$demotool" ]; then
  echo "music_wine: no Linux demotool at $demotool to build the tracks with" >&2
  exit 77
fi
export DEMO_BIN=$demo_exe DEMOTOOL_BIN=$demotool
. "$(dirname "$0")/../e2e/lib.sh"
E2E_LAUNCHER="bash $wine_run $prefix"
E2E_WINDOW_CLASS=$(basename "$demo_exe")
export WINEPREFIX=$prefix WINEDEBUG=-all
# The prefix's Wine server belongs to this test's X server: it goes with it.
trap 'wineserver -k 2>/dev/null; e2e_cleanup' EXIT
e2e_start_xvfb 320 180

music="Quelf - Tavoy Rip.mp3"
e2e_make_show res
printf 'track control\n0 0 step\n40 777 step\n' >"$E2E_TMP/show.txt"
"$DEMOTOOL_BIN" track build "$E2E_TMP/show.txt" "$E2E_SHOW/res" >/dev/null ||
  e2e_fail "demotool could not build the tracks"
whole="$E2E_TMP/whole.mp3"
cp "$E2E_SHOW/res/$music" "$whole"
size=$(stat -c %s "$whole")

# Each row: the damage, and what the line on stderr says of it.
while IFS='|' read -r damage said; do
  case $damage in
    half) head -c $((size / 2)) "$whole" ;;
    empty) : ;;
    # Seeded: bytes that happen to hold a pair of frame headers would make
    # another test than the one meant.
    random) python3 -c "import random, sys; random.seed(7); sys.stdout.buffer.write(random.randbytes($size))" ;;
  esac >"$E2E_SHOW/res/$music"
  e2e_start_demo --window 320x180
  e2e_expect_exit 120 "the end code, with the music $damage"
  lines=$(grep -cF "$music" "$E2E_TMP/demo.err")
  [ "$lines" = 1 ] || e2e_fail "music $damage: $lines lines name it, expected 1: $(cat "$E2E_TMP/demo.err")"
  grep -F "$music" "$E2E_TMP/demo.err" | grep -qF "$said" ||
    e2e_fail "music $damage: no '$said' in: $(grep -F "$music" "$E2E_TMP/demo.err")"
done <<'ROWS'
half|damaged after
empty|the file is empty
random|the show runs silently
ROWS
echo "PASS"
