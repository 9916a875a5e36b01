#!/usr/bin/env bash
# Runs a Windows program under Wine the way the Windows tests need it:
#   wine_run.sh PREFIX [--x WxH] PROGRAM.exe [ARGS...]
# PREFIX is the Wine prefix to use (kept under the build folder and reused:
# creating one takes a while, so the first run makes it under a lock and the
# others wait for it). With --x the program gets a virtual X server of its
# own of that size, and the prefix's Wine server is stopped afterwards, so
# that the next program of that prefix starts with its own screen. Wine's
# debug chatter is off, and the .NET and HTML runtimes are not offered.
# The program's exit status is this script's.
set -u
prefix=$1
shift
size=""
if [ "${1:-}" = --x ]; then
  size=$2
  shift 2
fi
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine || command -v wine64) || { echo "wine_run: wine is not installed" >&2; exit 1; }

# A prefix made while Wine had no 32-bit part has an empty syswow64; once
# 32-bit Wine is installed its loader starts no program there, 64-bit ones
# included ("could not load kernel32.dll"). Such a prefix is brought up to
# date once: made anew, since Wine cannot update it in place.
stale() {
  [ -x /usr/lib/wine/wine ] && [ -d "$prefix/drive_c/windows/syswow64" ] &&
    [ -z "$(ls -A "$prefix/drive_c/windows/syswow64")" ]
}

mkdir -p "$(dirname "$prefix")"
if [ ! -f "$prefix/system.reg" ] || stale; then
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ] || stale; then
      if stale; then
        wineserver -k 2>/dev/null
        rm -rf "$prefix"
      fi
      "$wine" wineboot --init >/dev/null 2>&1
      # The server that made the prefix belongs to no X server of ours: the
      # first program with a window must start one of its own.
      wineserver -k 2>/dev/null
    fi
  ) 9>"$prefix.lock"
fi

if [ -z "$size" ]; then
  exec "$wine" "$@"
fi

tmp=$(mktemp -d)
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
Xvfb -displayfd 9 -screen 0 "${size}x24" +extension GLX -nolisten tcp -noreset \
  9>"$tmp/display" 2>"$tmp/xvfb.err" &
xvfb=$!
# A deadline in seconds, not a count of tries: a loaded machine makes each
# try slower.
deadline=$((SECONDS + 30))
until [ -s "$tmp/display" ] || [ "$SECONDS" -ge "$deadline" ] || ! kill -0 "$xvfb" 2>/dev/null; do
  sleep 0.1
done
[ -s "$tmp/display" ] ||
  { echo "wine_run: Xvfb reported no display within 30 s: $(cat "$tmp/xvfb.err")" >&2; exit 1; }
export DISPLAY=":$(tr -d '[:space:]' <"$tmp/display")"
"$wine" "$@"
