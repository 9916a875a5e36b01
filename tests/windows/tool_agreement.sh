#!/usr/bin/env bash
# demotool.exe under Wine gives what the Linux demotool gives, byte for byte:
# `track eval` of tracks of the bundled show at rows between, on and beyond
# their keys; `png` of files of the PNG suite and the show's PNG
# (stdout, exit status and the raw RGBA written); `inflate` of zlib streams of
# several compression levels, damaged and cut ones and one over --limit;
# and a show in a folder named outside any 8-bit code page (`track eval`,
# `check` and a refused folder, whose name stderr must spell as given).
# Run for the 64-bit and the 32-bit demotool.exe alike.
#   tool_agreement.sh LINUX_DEMOTOOL WINDOWS_DEMOTOOL WINE_RUN PREFIX
# Exit status 0 when everything agrees; the first cases that differ are
# listed on stderr. Skipped (77) when there is no Linux demotool to compare
# with (a Windows build without the Linux one beside it).
set -u
linux=$1 windows=$2 wine_run=$3 prefix=$4
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
if [ ! -x "$linux" ]; then
  echo "tool_agreement: no Linux demotool at $linux; build it first" >&2
  exit 77
fi
[ -f "$windows" ] || { echo "tool_agreement: no $windows" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tool-agreement.XXXXXX")
export WINEPREFIX=$prefix WINEDEBUG=-all
# Wine turns the arguments into the program's UTF-16 command line by the
# locale's character set: in the C locale a name in Cyrillic arrives as junk.
export LC_ALL=C.UTF-8
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$windows" demotool.exe

differences=0
cases=0
# compare NAME ARGS...: both tools in this folder on the same relative paths;
# what each writes with -o goes to out.linux / out.windows.
compare() {
  local name=$1
  shift
  local args=("$@") la=() wa=() a
  for a in "${args[@]}"; do
    la+=("${a//@OUT@/out.linux}")
    wa+=("${a//@OUT@/out.windows}")
  done
  rm -f out.linux out.windows
  "$linux" "${la[@]}" >stdout.linux 2>/dev/null
  local ls=$?
  bash "$wine_run" "$prefix" demotool.exe "${wa[@]}" >stdout.windows 2>/dev/null
  local ws=$?
  cases=$((cases + 1))
  local why=""
  [ "$ls" = "$ws" ] || why="exit status $ls on Linux, $ws on Windows"
  [ -z "$why" ] && ! cmp -s stdout.linux stdout.windows && why="stdout differs: $(diff stdout.linux stdout.windows | head -n 4 | tr '\n' ' ')"
  if [ -z "$why" ] && { [ -e out.linux ] || [ -e out.windows ]; }; then
    cmp -s out.linux out.windows || why="output files differ"
  fi
  if [ -n "$why" ]; then
    differences=$((differences + 1))
    [ "$differences" -le 10 ] && echo "DIFFERS: $name: $why" >&2
  fi
}

# Tracks: every row from -1 past the last key, in steps that land on keys,
# between them and on values that need the last bits of a float.
mkdir -p res
cp "$source_dir"/res/steak_*.track res/
rows=(-1 0 0.25 0.5 1 1.5 2.75 3.14159 7.999 10 19.5 40 99.9 160.125 333.3333 640 1000.5 1234.567 2000 2400.01 2641 3000 99999)
for track in res/steak_control.track res/steak_back.r.track res/steak_back.scale.track \
  res/steak_back.rotz.track res/steak_scroll.x.track; do
  compare "track eval $track" track eval "$track" "${rows[@]}"
done
compare "track dump" track dump res/steak_control.track
compare "track check" track check res/steak_*.track

# A show in a folder named in Greek and Cyrillic, with a track named in
# Chinese: found, read, and named on stdout and stderr as spelt (stderr is
# compared too, here).
unicode="Ωmega демо"
mkdir -p "$unicode"
cp "$source_dir"/res/* "$unicode"/ 2>/dev/null
cp "$unicode/steak_back.r.track" "$unicode/轨道.track"
compare "track eval in $unicode" track eval "$unicode/steak_control.track" "${rows[@]}"
compare "track eval of 轨道.track" track eval "$unicode/轨道.track" 0 100.5 2000
compare "check $unicode" check "$unicode"
compare_stderr() {
  "$linux" "$@" >/dev/null 2>stderr.linux
  bash "$wine_run" "$prefix" demotool.exe "$@" >/dev/null 2>stderr.windows
  cases=$((cases + 1))
  if ! cmp -s stderr.linux stderr.windows || ! grep -qF "$unicode" stderr.windows; then
    differences=$((differences + 1))
    echo "DIFFERS: stderr of $*: $(diff stderr.linux stderr.windows | head -n 4 | tr '\n' ' ')" >&2
  fi
}
compare_stderr check "$unicode-x"
compare_stderr track eval "$unicode/steak_none.track" 1

# PNG: grey, RGB, palette, grey with alpha and RGBA at 1 to 16 bits,
# interlaced and not, odd sizes, filters, compression levels, transparency,
# broken files, and the show's own image. (Not the whole suite: each run
# starts a Windows process, a second or more on a busy machine.)
suite=$source_dir/tests/png/pngsuite
for name in basn0g01 basn0g16 basn2c08 basn2c16 basn3p01 basn3p08 basn4a16 basn6a08 basn6a16 \
  basi0g04 basi3p02 basi6a16 s09i3p02 f04n2c08 z09n2c08 tbwn3p08 \
  xcrn0g04 xd0n2c08 xhdn0g08 xs1n0g01 xdtn0g01 grlsch; do
  png=$suite/$name.png
  [ "$name" = grlsch ] && png=$source_dir/res/grlsch.png
  cp "$png" in.png || exit 1
  compare "png $(basename "$png")" png in.png -o @OUT@
done

# zlib streams: stored and best compression of text, noise, and broken
# streams.
python3 - <<'PY' || exit 1
import random, zlib
random.seed(7)
text = b"".join(b"row %d value %f\n" % (i, i * 0.37) for i in range(20000))
noise = bytes(random.getrandbits(8) for _ in range(50000))
for level in (0, 6, 9):
    open(f"text{level}.z", "wb").write(zlib.compress(text, level))
open("noise.z", "wb").write(zlib.compress(noise, 9))
damaged = bytearray(zlib.compress(text, 6))
damaged[len(damaged) // 2] ^= 0x55
open("damaged.z", "wb").write(bytes(damaged))
open("truncated.z", "wb").write(zlib.compress(text, 6)[:-100])
PY
for z in text0.z text9.z noise.z damaged.z truncated.z; do
  compare "inflate $z" inflate "$z" -o @OUT@
done
compare "inflate over the limit" inflate text6.z --limit 1K -o @OUT@

echo "$cases cases, $differences differ"
[ "$differences" = 0 ]
