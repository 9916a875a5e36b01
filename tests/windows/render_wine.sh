#!/usr/bin/env bash
# demo.exe's stills and captures under Wine, against the Linux demo:
#   1. --render at two times of the bundled show (10 s: an image plane over the
#      textured backdrop; 80 s: the scroll text over it) writes a still whose
#      pixels agree with the Linux demo's in at least 99 % within 8/255 per
#      channel: the GL is the same Mesa on both, the glyph outlines each
#      system's own (wglUseFontOutlines and FreeType);
#   2. the same command twice writes the same bytes, over an older file; a
#      name outside the ANSI code page is written as it is;
#   3. refusals say why and leave no file behind, not even a temporary: an
#      output in a folder that does not exist, an output that is a folder, a
#      Matroska capture (Media Foundation writes MP4 only), and a capture on a
#      system without an H.264 or AAC encoder (Wine has none; were one there,
#      the capture must instead write an MP4); Media Foundation is not among
#      demo.exe's imports, so that it starts where that is missing;
#   4. --help offers --render and --capture, and no Matroska.
#   render_wine.sh DEMO.EXE LINUX_DEMO WINE_RUN PREFIX
# Without the Linux demo the test is skipped (77). The stills are kept under
# E2E_ARTIFACTS when that is set.
demo_exe=$1 linux_demo=$2 wine_run=$3 prefix=$4
if [ ! -x "$linux_demo" ]; then
  echo "render_wine: no Linux demo at $linux_demo to compare with" >&2
  exit 77
fi
export DEMO_BIN=$demo_exe
. "$(dirname "$0")/../e2e/lib.sh"
export WINEPREFIX=$prefix WINEDEBUG=-all
# Wine turns the arguments into UTF-16 by the locale: names outside ASCII
# reach demo.exe whole only under a UTF-8 one.
export LC_ALL=C.UTF-8
trap 'wineserver -k 2>/dev/null; e2e_cleanup' EXIT
agreement=$(dirname "$0")/png_agreement.py
SIZE=640x360

e2e_start_xvfb 640 360
e2e_make_show res
wine_demo() {  # wine_demo ARGS...: demo.exe in the show folder; stderr in wine.err
  (cd "$E2E_SHOW" && timeout 300 bash "$wine_run" "$prefix" "$demo_exe" "$@" >"$E2E_TMP/wine.out" 2>"$E2E_TMP/wine.err")
}
linux_demo() {  # linux_demo ARGS...: no display at all, as the stills need none
  (cd "$E2E_SHOW" && env -u DISPLAY -u WAYLAND_DISPLAY "$linux_demo" "$@" 2>"$E2E_TMP/linux.err")
}
keep() { [ -n "${E2E_ARTIFACTS:-}" ] && mkdir -p "$E2E_ARTIFACTS" && cp "$@" "$E2E_ARTIFACTS/"; return 0; }

# --- 1 and 2. The same stills on both systems ------------------------------
for time in 10 80; do
  wine_demo --render "$time" -o "windows-$time.png" --size $SIZE ||
    e2e_fail "demo.exe --render $time failed: $(cat "$E2E_TMP/wine.err")"
  linux_demo --render "$time" -o "linux-$time.png" --size $SIZE ||
    e2e_fail "demo --render $time failed: $(cat "$E2E_TMP/linux.err")"
  keep "$E2E_SHOW/windows-$time.png" "$E2E_SHOW/linux-$time.png"
  result=$(python3 "$agreement" "$E2E_SHOW/windows-$time.png" "$E2E_SHOW/linux-$time.png" 99 8 2>&1) ||
    e2e_fail "the stills at $time s disagree: $result"
  echo "render_wine: at $time s $result"
done
# Over an older still, which the new one replaces whole.
wine_demo --render 80 -o windows-10.png --size $SIZE || e2e_fail "demo.exe --render 80 failed again: $(cat "$E2E_TMP/wine.err")"
cmp -s "$E2E_SHOW/windows-80.png" "$E2E_SHOW/windows-10.png" ||
  e2e_fail "the same still was written with other bytes, or did not replace the older file"

# A name outside the ANSI code page, written through the wide calls.
wine_demo --render 10 -o "静止 Ωmega.png" --size 64x36 ||
  e2e_fail "demo.exe --render to '静止 Ωmega.png' failed: $(cat "$E2E_TMP/wine.err")"
[ -s "$E2E_SHOW/静止 Ωmega.png" ] || e2e_fail "demo.exe wrote no '静止 Ωmega.png': $(ls "$E2E_SHOW")"
rm -f "$E2E_SHOW/静止 Ωmega.png"

# --- 3. Refusals that leave nothing behind -----------------------------------
mkdir -p "$E2E_SHOW/folder"
# Each row: arguments | what stderr must say | the file that must not appear.
while IFS='|' read -r args says file; do
  before=$(ls -A "$E2E_SHOW" "$E2E_SHOW/folder" | sort | tr '\n' ' ')
  status=0
  # shellcheck disable=SC2086  # the row's arguments are words
  wine_demo $args || status=$?
  after=$(ls -A "$E2E_SHOW" "$E2E_SHOW/folder" | sort | tr '\n' ' ')
  if [ "$status" = 0 ] && [ "$file" = capture.mp4 ]; then
    # A Wine with both encoders: the capture itself must then work.
    head -c 12 "$E2E_SHOW/$file" | grep -q ftyp || e2e_fail "demo.exe $args wrote no MP4"
    rm -f "$E2E_SHOW/$file"
    continue
  fi
  [ "$status" = 1 ] || e2e_fail "demo.exe $args ended with $status, expected 1: $(cat "$E2E_TMP/wine.err")"
  grep -qF -- "$says" "$E2E_TMP/wine.err" || e2e_fail "demo.exe $args: no '$says' in: $(cat "$E2E_TMP/wine.err")"
  [ ! -e "$E2E_SHOW/$file" ] || e2e_fail "demo.exe $args left $file behind"
  [ "$before" = "$after" ] || e2e_fail "demo.exe $args left files behind: $after (before: $before)"
done <<'ROWS'
--render 10 -o missing/still.png --size 64x36|cannot write 'missing/still.png'|missing
--render 10 -o folder --size 64x36|'folder' is a folder|folder/still.png
--capture capture.mkv --to 1 --size 64x36|Matroska (.mkv) cannot be written on Windows|capture.mkv
--capture capture.mp4 --to 1 --size 64x36|encoder in Media Foundation, which video capture needs|capture.mp4
ROWS

# Media Foundation is loaded when a capture starts, never imported: on a
# Windows N edition without it demo.exe must still start.
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v i686-w64-mingw32-objdump || true)
if [ -n "$objdump" ]; then
  ! "$objdump" -p "$demo_exe" | grep -qiE 'DLL Name: (mfplat|mfreadwrite)' ||
    e2e_fail "demo.exe imports Media Foundation, so it would not start where that is missing"
fi

# --- 4. The help offers what works here --------------------------------------
wine_demo --help || e2e_fail "demo.exe --help failed: $(cat "$E2E_TMP/wine.err")"
for option in "demo --render TIME -o FILE.png" "demo --capture FILE" "  --capture FILE" "  --size WxH"; do
  grep -qF -- "$option" "$E2E_TMP/wine.out" || e2e_fail "demo.exe --help does not offer '$option'"
done
! grep -q '\.mkv' "$E2E_TMP/wine.out" || e2e_fail "demo.exe --help offers Matroska, which it cannot write"
echo "render_wine: passed"
