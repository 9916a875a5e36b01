#!/usr/bin/env bash
# Soak of the real demo under Xvfb (not part of ./test: it takes a while).
#
#   scripts/soak.sh [STARTS]      (default 100)
#
# 1. STARTS starts of the bundled show, each ended at a random moment, during
#    the loading screen or during the show, by one of: Escape, the right mouse
#    button, SIGTERM, a close request from the window system (taken in turn).
# 2. The damage sweep: each of the show's 22 files in turn missing, empty,
#    cut in half, and replaced by random bytes of the same size; the show
#    must start, say one line on stderr naming the file, and run on until
#    Escape ends it.
# Every run must end with exit code 0 within 5 s of the request, crash
# nowhere (no signal, no sanitizer report), and leave no process behind.
# Prints one line per failed run and the counts at the end; exits non-zero
# when any run failed. Environment: DEMO_BIN (default build/demo, built when
# missing), SOAK_SEED for the random moments, SOAK_SIZE for the screen
# (default 480x270), SOAK_SWEEP=no to skip the damage sweep.
set -uo pipefail
root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
cd "$root"
case "${1:-}" in
  -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  "") starts=100 ;;
  *[!0-9]*) echo "soak.sh: STARTS must be a whole number, not '$1'" >&2; exit 2 ;;
  *) starts=$1 ;;
esac
for tool in Xvfb xdotool xwd convert python3 setsid; do
  command -v $tool >/dev/null || { echo "soak.sh: needs $tool (scripts/install-deps.sh)" >&2; exit 2; }
done
demo=${DEMO_BIN:-$root/build/demo}
if [ ! -x "$demo" ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && cmake --build build -j 2 --target demo >/dev/null ||
    { echo "soak.sh: cannot build the demo" >&2; exit 2; }
fi
RANDOM=${SOAK_SEED:-$$}
size=${SOAK_SIZE:-480x270}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/demo-soak.XXXXXX")
xvfb=""
pid=""
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  [ -n "$xvfb" ] && kill -TERM "$xvfb" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

: >"$tmp/display"
Xvfb -displayfd 9 -screen 0 "${size}x24" +extension GLX -nolisten tcp -noreset 9>"$tmp/display" 2>"$tmp/xvfb.err" &
xvfb=$!
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || { echo "soak.sh: Xvfb did not start: $(cat "$tmp/xvfb.err")" >&2; exit 2; }
export DISPLAY=":$(tr -d '[:space:]' <"$tmp/display")"

# A close request as the window system sends it: WM_DELETE_WINDOW in a
# ClientMessage to the window's owner.
close_request() {
  python3 - "$1" <<'PY'
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]
d = x.XOpenDisplay(None)
if not d:
    sys.exit(1)
e = ClientMessage()
e.type = 33  # ClientMessage
e.window = int(sys.argv[1])
e.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
e.format = 32
e.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
ok = x.XSendEvent(d, e.window, 0, 0, ctypes.byref(e))
x.XFlush(d)
x.XCloseDisplay(d)
sys.exit(0 if ok else 1)
PY
}

window_of() { xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -n 1; }

# Waits up to $2 seconds for the demo's window; prints its id.
wait_window() {
  local i w
  for i in $(seq $(($2 * 10))); do
    w=$(window_of "$1")
    [ -n "$w" ] && { echo "$w"; return 0; }
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# The show's ground is deep blue; the loading screen is not.
phase() {
  local rgb
  rgb=$(xwd -root -silent 2>/dev/null | convert xwd:- -crop 1x1+0+0 +repage -depth 8 rgb:- 2>/dev/null | od -An -tu1 | xargs)
  case "$rgb" in "0 51 128") echo show ;; "") echo unknown ;; *) echo loading ;; esac
}

failures=0
declare -A count
fail_run() {
  failures=$((failures + 1))
  echo "soak: FAIL $*" >&2
  [ -s "$tmp/err" ] && sed 's/^/    stderr: /' "$tmp/err" | head -n 8 >&2
}

# Starts the demo in its own session in show folder $1; sets pid and sid.
start_demo() {
  (cd "$1" && exec setsid env SDL_AUDIODRIVER=dummy "$demo" >"$tmp/out" 2>"$tmp/err") &
  pid=$!
}

# Sends request $1 to the running demo. Keys and clicks need its window.
request() {
  local how=$1 w
  case "$how" in
    sigterm) kill -TERM "$pid" ;;
    *)
      w=$(wait_window "$pid" 30) || return 1
      case "$how" in
        escape) xdotool mousemove 10 10 windowfocus --sync "$w" key Escape 2>/dev/null ;;
        right) xdotool mousemove 10 10 click 3 2>/dev/null ;;
        close) close_request "$w" ;;
      esac
      ;;
  esac
}

# Waits up to 5 s for the end after a request; checks code, crash, leftovers.
# $1 names the run.
finish() {
  local name=$1 i code=""
  for i in $(seq 100); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      code=$?
      break
    fi
    sleep 0.05
  done
  if [ -z "$code" ]; then
    fail_run "$name: still running 5 s after the request"
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    pid=""
    count[hang]=$((${count[hang]:-0} + 1))
    return 1
  fi
  local leftovers
  leftovers=$(ps -o pid= -s "$pid" 2>/dev/null | xargs)
  pid_done=$pid
  pid=""
  if [ -n "$leftovers" ]; then
    fail_run "$name: processes left behind: $leftovers"
    for i in $leftovers; do kill -KILL "$i" 2>/dev/null; done
    return 1
  fi
  if [ "$code" != 0 ]; then
    fail_run "$name: exit code $code"
    return 1
  fi
  if grep -q "Sanitizer\|runtime error" "$tmp/err"; then
    fail_run "$name: sanitizer report"
    return 1
  fi
  return 0
}

show=$tmp/show
mkdir -p "$show"
cp -r res "$show/res"

# 1. Starts ended at random moments.
ways=(escape right sigterm close)
for n in $(seq "$starts"); do
  how=${ways[$(((n - 1) % 4))]}
  # Half the starts of each way are ended within the first 1.5 s (loading),
  # half after 3 to 10 s (the show, on a machine that loads in time).
  if [ $(((n - 1) / 4 % 2)) = 0 ]; then delay_ms=$((RANDOM % 1500)); else delay_ms=$((3000 + RANDOM % 7000)); fi
  start_demo "$show"
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  when=$(phase)
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"; code=$?; pid=""
    fail_run "start $n: ended by itself with code $code before the $how request"
    continue
  fi
  if ! request "$how"; then
    fail_run "start $n: could not send $how (no window)"
    kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=""
    continue
  fi
  if finish "start $n ($how during $when after ${delay_ms} ms)"; then
    count[$how-$when]=$((${count[$how-$when]:-0} + 1))
  fi
done

# 2. The damage sweep.
files=()
[ "${SOAK_SWEEP:-yes}" = no ] ||
  while IFS= read -r f; do files+=("$f"); done < <(cd res && ls -1 | grep -E '\.(mp3|gif|jpg|png|track)$')
swept=0
one_line=0
for f in "${files[@]}"; do
  for damage in missing empty half random; do
    rm -rf "$show/res"
    cp -r res "$show/res"
    target="$show/res/$f"
    bytes=$(stat -c %s "res/$f")
    case "$damage" in
      missing) rm -f "$target" ;;
      empty) : >"$target" ;;
      half) head -c $((bytes / 2)) "res/$f" >"$target" ;;
      random) head -c "$bytes" /dev/urandom >"$target" ;;
    esac
    name="$damage $f"
    start_demo "$show"
    # Until the show runs (or at most 30 s), then a moment more.
    for _ in $(seq 60); do
      [ "$(phase)" = show ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.5
    done
    sleep 1
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"; code=$?; pid=""
      fail_run "$name: the show did not run on (ended with code $code)"
      continue
    fi
    swept=$((swept + 1))
    lines=$(grep -cF "$f" "$tmp/err")
    if [ "$lines" = 1 ]; then
      one_line=$((one_line + 1))
    else
      echo "soak: note: $name: $lines stderr lines name the file" >&2
      sed 's/^/    stderr: /' "$tmp/err" | head -n 4 >&2
    fi
    request escape || { fail_run "$name: could not send Escape"; kill -KILL "$pid"; wait "$pid" 2>/dev/null; pid=""; continue; }
    finish "$name" && count[sweep-ok]=$((${count[sweep-ok]:-0} + 1))
  done
done

echo "soak: $starts starts ended on request:"
for key in $(printf '%s\n' "${!count[@]}" | grep -v 'sweep\|hang' | sort); do echo "  $key: ${count[$key]} clean"; done
echo "  still running 5 s after the request: ${count[hang]:-0}"
echo "soak: damage sweep: ${#files[@]} files x 4 damages = $(( ${#files[@]} * 4 )) runs; $swept ran on into the show," \
  "${count[sweep-ok]:-0} ended cleanly on Escape, $one_line said exactly one line naming the file"
echo "soak: $failures failed run(s)"
[ "$failures" = 0 ]
