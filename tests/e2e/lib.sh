# Shared helpers for the end-to-end tests: the real `demo` binary run the way a
# person runs it, on a virtual X server of a chosen size, driven with xdotool
# and checked through screenshots of the root window.
#
# Source it from a test script:   . "$(dirname "$0")/lib.sh"
# CTest passes (tests/e2e/CMakeLists.txt):
#   DEMO_BIN         the built demo executable
#   DEMOTOOL_BIN     the built demotool executable
#   DEMO_SOURCE_DIR  the source tree (res/ lives there)
# When they are unset the helpers fall back to build/ under the source tree.
#
# Functions (all fail the test with e2e_fail on a broken precondition):
#   e2e_start_xvfb W H       start Xvfb with one WxHx24 screen (GLX on) on a free
#                            display number, export DISPLAY; killed at exit.
#   e2e_make_show [res]      make a temp show folder in E2E_SHOW; with "res" the
#                            source tree's res/ is copied in, else res/ is empty.
#   e2e_start_demo [ARGS..]  start $DEMO_BIN in $E2E_SHOW with SDL_AUDIODRIVER=dummy
#                            (or $E2E_AUDIODRIVER when set), through the command
#                            in $E2E_LAUNCHER when set (Wine for demo.exe);
#                            pid in E2E_DEMO_PID, stdout/stderr in $E2E_TMP/demo.out
#                            and demo.err.
#   e2e_wait_until SECS WHAT CMD [ARGS..]
#                            run CMD every quarter second until it succeeds, for
#                            at most SECS seconds of wall-clock time; on expiry
#                            fail with "waited SECS s for WHAT". CMD may itself
#                            call e2e_fail (the demo died), and may leave in
#                            E2E_WAIT_NOTE what it has seen so far, which the
#                            failure then says too. Every wait in the
#                            tests is one of these: a loaded machine makes each
#                            try slower, so a count of tries is no deadline.
#   e2e_now                  put the microseconds since the epoch in E2E_NOW:
#                            deadlines count wall-clock time.
#   e2e_wait_window [SECS]   wait until the demo's window is mapped (default 20 s);
#                            its id goes to E2E_WINDOW. Fails if the demo dies.
#                            Found by its process, or by its window class when
#                            E2E_WINDOW_CLASS is set.
#   e2e_window_geometry      print "X Y W H" of E2E_WINDOW.
#   e2e_key KEYSYM           move the pointer into the middle of the screen and
#                            press and release a key (xdotool names: Escape, space, a).
#   e2e_click BUTTON         click a mouse button (1 left, 2 middle, 3 right) at
#                            the middle of the screen.
#   e2e_wait_exit SECS       wait for the demo to end and put its exit code in
#                            E2E_EXIT_CODE; returns 124 if it is still running.
#                            Call it directly, not in $(...): a subshell cannot
#                            collect the demo's exit code.
#   e2e_expect_exit SECS WHAT
#                            e2e_wait_exit SECS, and fail unless the demo ended
#                            with exit code 0 (WHAT ended it: "Escape").
#   e2e_still_running        true while the demo process lives.
#   e2e_screenshot FILE.png  screenshot of the whole root window.
#   e2e_pixel FILE.png X Y   print "R G B" (0..255) of one pixel.
#   e2e_pixel_near FILE X Y R G B [TOL]
#                            true when that pixel is within TOL (default 8) per
#                            channel of R G B.
#   e2e_wait_pixel X Y R G B [TOL] [SECS]
#                            take screenshots until that pixel is near R G B
#                            (default within 8, for 20 s); the last one stays in
#                            $E2E_TMP/last.png. Fails the test on timeout.
#   e2e_is_near "R G B" "R G B"
#                            true when two colours are within 10 per channel.
#   e2e_ground FILE.png      print the ground colour of a screenshot of the whole
#                            screen: the most common colour among the four
#                            corners and the middle of the top edge.
#   e2e_mean FILE.png [WxH+X+Y]
#                            print the mean "R G B" of the picture or of a region.
#   e2e_count_near FILE.png WxH+X+Y R G B [TOL]
#                            print how many pixels of the region are within TOL
#                            (default 8) per channel of R G B (a row or a column
#                            of the picture measures the extent of a shape).
#   e2e_fail MSG             print "FAIL: MSG" on stderr (plus the demo's stderr)
#                            and exit 1.
#   e2e_note MSG             print a line to stderr.
#   e2e_artifact FILE        keep a copy of FILE under $E2E_ARTIFACTS (when set,
#                            e.g. a build folder) for a person to look at.
# Everything started here (Xvfb, the demo, temp folders) is cleaned up by an
# EXIT trap; a test that installs its own trap must call e2e_cleanup from it.
# Sourcing turns on `set -u`: an unset variable is a fault in the test.

set -u

E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/demo-e2e.XXXXXX")
E2E_XVFB_PID=""
E2E_DEMO_PID=""
E2E_SHOW=""
E2E_WINDOW=""
E2E_EXIT_CODE=""
E2E_WAIT_NOTE=""
E2E_LAUNCHER=${E2E_LAUNCHER:-}
E2E_WINDOW_CLASS=${E2E_WINDOW_CLASS:-}
: "${DEMO_SOURCE_DIR:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
: "${DEMO_BIN:=$DEMO_SOURCE_DIR/build/demo}"
: "${DEMOTOOL_BIN:=$DEMO_SOURCE_DIR/build/demotool}"
export DEMO_SOURCE_DIR DEMO_BIN DEMOTOOL_BIN

e2e_note() { echo "$*" >&2; }

e2e_now() { E2E_NOW=${EPOCHREALTIME/[.,]/}; }

e2e_wait_until() {
  local secs=$1 what=$2 start
  shift 2
  e2e_now
  start=$E2E_NOW
  while ! "$@"; do
    e2e_now
    if [ $((E2E_NOW - start)) -ge $((secs * 1000000)) ]; then
      e2e_fail "waited ${secs} s for $what${E2E_WAIT_NOTE:+: $E2E_WAIT_NOTE}"
    fi
    sleep 0.25
  done
}

e2e_fail() {
  echo "FAIL: $*" >&2
  if [ -s "$E2E_TMP/demo.err" ]; then
    echo "--- demo stderr:" >&2
    tail -n 20 "$E2E_TMP/demo.err" >&2
  fi
  exit 1
}

e2e_cleanup() {
  if [ -n "$E2E_DEMO_PID" ] && kill -0 "$E2E_DEMO_PID" 2>/dev/null; then
    kill -KILL "$E2E_DEMO_PID" 2>/dev/null
    wait "$E2E_DEMO_PID" 2>/dev/null
  fi
  if [ -n "$E2E_XVFB_PID" ] && kill -0 "$E2E_XVFB_PID" 2>/dev/null; then
    kill -TERM "$E2E_XVFB_PID" 2>/dev/null
    wait "$E2E_XVFB_PID" 2>/dev/null
  fi
  [ -n "$E2E_TMP" ] && rm -rf "$E2E_TMP"
}
trap e2e_cleanup EXIT

e2e__xvfb_ready() {
  [ -s "$E2E_TMP/display" ] && return 0
  kill -0 "$E2E_XVFB_PID" 2>/dev/null || e2e_fail "Xvfb did not start: $(cat "$E2E_TMP/xvfb.err")"
  return 1
}

e2e_start_xvfb() {
  local w=$1 h=$2
  command -v Xvfb >/dev/null || e2e_fail "Xvfb is not installed"
  # -displayfd lets the server pick a free display number itself, which is
  # race-free when several tests start servers at once.
  : >"$E2E_TMP/display"
  Xvfb -displayfd 9 -screen 0 "${w}x${h}x24" +extension GLX -nolisten tcp -noreset \
    9>"$E2E_TMP/display" 2>"$E2E_TMP/xvfb.err" &
  E2E_XVFB_PID=$!
  e2e_wait_until 30 "Xvfb to report its display number" e2e__xvfb_ready
  export DISPLAY=":$(tr -d '[:space:]' <"$E2E_TMP/display")"
}

e2e_make_show() {
  E2E_SHOW="$E2E_TMP/show"
  mkdir -p "$E2E_SHOW"
  if [ "${1:-}" = res ]; then
    [ -d "$DEMO_SOURCE_DIR/res" ] || e2e_fail "no res/ in $DEMO_SOURCE_DIR"
    cp -r "$DEMO_SOURCE_DIR/res" "$E2E_SHOW/res"
  else
    mkdir -p "$E2E_SHOW/res"
  fi
}

e2e_start_demo() {
  [ -x "$DEMO_BIN" ] || e2e_fail "demo binary not found: $DEMO_BIN"
  [ -n "$E2E_SHOW" ] || e2e_make_show
  (cd "$E2E_SHOW" && exec env SDL_AUDIODRIVER="${E2E_AUDIODRIVER:-dummy}" $E2E_LAUNCHER "$DEMO_BIN" "$@" \
    >"$E2E_TMP/demo.out" 2>"$E2E_TMP/demo.err") &
  E2E_DEMO_PID=$!
}

e2e_still_running() { [ -n "$E2E_DEMO_PID" ] && kill -0 "$E2E_DEMO_PID" 2>/dev/null; }

e2e__window_mapped() {
  local ids
  e2e_still_running || e2e_fail "demo ended before its window appeared"
  if [ -n "$E2E_WINDOW_CLASS" ]; then
    ids=$(xdotool search --onlyvisible --classname "$E2E_WINDOW_CLASS" 2>/dev/null)
  else
    ids=$(xdotool search --onlyvisible --pid "$E2E_DEMO_PID" 2>/dev/null)
  fi
  [ -n "$ids" ] || return 1
  E2E_WINDOW=$(echo "$ids" | head -n 1)
}

e2e_wait_window() {
  e2e_wait_until "${1:-20}" "a visible demo window" e2e__window_mapped
}

e2e_window_geometry() {
  # xdotool prints WINDOW/X/Y/WIDTH/HEIGHT/SCREEN lines with --shell.
  local WINDOW X Y WIDTH HEIGHT SCREEN
  eval "$(xdotool getwindowgeometry --shell "$E2E_WINDOW")"
  echo "$X $Y $WIDTH $HEIGHT"
}

e2e__centre() {
  local w h
  read -r w h < <(xdotool getdisplaygeometry)
  xdotool mousemove $((w / 2)) $((h / 2))
}

e2e_key() {
  e2e__centre
  # Without a window manager keyboard focus follows the pointer; the explicit
  # focus makes the key land in the demo even if the pointer root changes.
  [ -n "$E2E_WINDOW" ] && xdotool windowfocus --sync "$E2E_WINDOW" 2>/dev/null
  xdotool key "$1"
}

e2e_click() {
  e2e__centre
  xdotool click "$1"
}

e2e_wait_exit() {
  local secs=$1 start
  e2e_now
  start=$E2E_NOW
  while e2e_still_running; do
    e2e_now
    [ $((E2E_NOW - start)) -ge $((secs * 1000000)) ] && return 124
    sleep 0.05
  done
  wait "$E2E_DEMO_PID"
  E2E_EXIT_CODE=$?
  E2E_DEMO_PID=""
  return 0
}

e2e_expect_exit() {
  e2e_wait_exit "$1" || e2e_fail "still running $1 s after $2"
  [ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "exit code $E2E_EXIT_CODE after $2, expected 0"
}

# A window that goes away while the screen is read (a probe window, a window
# being replaced) fails the read with BadDrawable: read again a few times.
e2e_screenshot() {
  local try
  for try in 1 2 3; do
    xwd -root -silent 2>/dev/null | convert xwd:- "png:$1" 2>/dev/null && return 0
    sleep 0.2
  done
  e2e_fail "screenshot failed"
}

e2e_pixel() {
  convert "$1" -crop "1x1+$2+$3" +repage -depth 8 rgb:- | od -An -tu1 | xargs
}

e2e_pixel_near() {
  local r g b tol=${7:-8}
  read -r r g b < <(e2e_pixel "$1" "$2" "$3")
  [ $(( (r - $4) * (r - $4) <= tol * tol && (g - $5) * (g - $5) <= tol * tol && (b - $6) * (b - $6) <= tol * tol )) -eq 1 ]
}

e2e_wait_pixel() {
  local x=$1 y=$2 r=$3 g=$4 b=$5 tol=${6:-8} secs=${7:-20} start
  # Software rendering on a loaded machine can take a while for the first
  # frames: poll rather than guess a delay.
  e2e_now
  start=$E2E_NOW
  while :; do
    e2e_screenshot "$E2E_TMP/last.png"
    e2e_pixel_near "$E2E_TMP/last.png" "$x" "$y" "$r" "$g" "$b" "$tol" && return 0
    e2e_still_running || e2e_fail "demo ended while waiting for ($x,$y) to become $r $g $b"
    e2e_now
    [ $((E2E_NOW - start)) -ge $((secs * 1000000)) ] && break
    sleep 0.25
  done
  e2e_fail "pixel ($x,$y) is $(e2e_pixel "$E2E_TMP/last.png" "$x" "$y"), not $r $g $b, after waiting ${secs} s"
}

e2e_is_near() {
  local r g b R G B
  read -r r g b <<<"$1"
  read -r R G B <<<"$2"
  [ $(( (r - R) * (r - R) <= 100 && (g - G) * (g - G) <= 100 && (b - B) * (b - B) <= 100 )) -eq 1 ]
}

# The show's layers rarely cover all five of these points at once.
e2e_ground() {
  local w h p
  read -r w h < <(identify -format '%w %h' "$1")
  for p in "2 2" "$((w - 3)) 2" "2 $((h - 3))" "$((w - 3)) $((h - 3))" "$((w / 2)) 2"; do
    e2e_pixel "$1" $p
  done | sort | uniq -c | sort -rn | head -n 1 | awk '{print $2, $3, $4}'
}

e2e_mean() {
  local crop=()
  [ -n "${2:-}" ] && crop=(-crop "$2" +repage)
  convert "$1" "${crop[@]}" -scale '1x1!' -depth 8 rgb:- | od -An -tu1 | xargs
}

e2e_count_near() {
  convert "$1" -crop "$2" +repage -depth 8 rgb:- | od -An -v -tu1 -w3 |
    awk -v r="$3" -v g="$4" -v b="$5" -v t="${6:-8}" '
      function d(a, c) { return a > c ? a - c : c - a }
      NF == 3 && d($1, r) <= t && d($2, g) <= t && d($3, b) <= t { n++ }
      END { print n + 0 }'
}

e2e_artifact() {
  [ -n "${E2E_ARTIFACTS:-}" ] || return 0
  mkdir -p "$E2E_ARTIFACTS" && cp "$1" "$E2E_ARTIFACTS/"
}
