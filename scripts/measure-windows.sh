#!/usr/bin/env bash
# Start-up and frame times of demo.exe under Wine against the Linux demo, on
# one virtual X server, playing the bundled show:
#   scripts/measure-windows.sh [--runs N] [--seconds S] [--size WxH]
#                              [--linux-demo FILE] [--windows-demo FILE.exe]
# Each program plays the show N times (default 3, alternating) with --stats
# for S seconds (default 15) of show and is ended with Escape. Start-up is
# the time from the launch to the first show frame (the loading screen
# included): as the demo counts it from its own start, and as seen from here,
# from the launch to the moment its start-up line arrives (for demo.exe that
# includes Wine starting the process). Frame times are the median and 99th
# percentile of the intervals between presented show frames that --stats
# prints at the end. Each program then writes one 1920x1080 still of the show
# (--render at 1:05, the default size) N times, timed from the launch to its
# exit. Prints the medians over the runs for both programs and their ratios
# (Wine / Linux). Measures build/demo and build-windows/demo.exe (./test or
# scripts/build-windows.sh build them) unless the options name others.
set -euo pipefail
called_from=$PWD
cd "$(dirname "$0")/.."
runs=3 seconds=15 size=1280x720
linux_demo=$PWD/build/demo
windows_demo=$PWD/build-windows/demo.exe
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --linux-demo) linux_demo=$(cd "$called_from" && realpath -- "$2"); shift 2 ;;
    --windows-demo) windows_demo=$(cd "$called_from" && realpath -- "$2"); shift 2 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "measure-windows: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
done
for f in "$linux_demo" "$windows_demo"; do
  [ -f "$f" ] || { echo "measure-windows: $f is missing; build it first" >&2; exit 1; }
done
for tool in Xvfb xdotool wine wineserver python3; do
  command -v "$tool" >/dev/null || { echo "measure-windows: $tool is not installed" >&2; exit 1; }
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/measure-windows.XXXXXX")
export WINEPREFIX=$PWD/build-windows/wine-prefix-measure WINEDEBUG=-all
xvfb=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

Xvfb -displayfd 9 -screen 0 "${size}x24" +extension GLX -nolisten tcp -noreset \
  9>"$tmp/display" 2>"$tmp/xvfb.err" &
xvfb=$!
for _ in $(seq 100); do
  [ -s "$tmp/display" ] && break
  sleep 0.1
done
[ -s "$tmp/display" ] || { echo "measure-windows: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(tr -d '[:space:]' <"$tmp/display")"

mkdir -p "$tmp/show"
cp -r res "$tmp/show/res"
# The prefix is made once and kept; its first start is not measured.
bash tests/windows/wine_run.sh "$WINEPREFIX" cmd /c exit 0 >/dev/null 2>&1 || true

# run NAME N: one run; stderr goes to $tmp/NAME.N.err, the launch time and
# the time the start-up line arrived (ns) to $tmp/NAME.N.times.
run() {
  local name=$1 n=$2 err=$tmp/$1.$2.err pid launched seen="" i window
  local cmd=("$linux_demo" --stats)
  [ "$name" = wine ] && cmd=(wine "$windows_demo" --stats)
  : >"$err"
  launched=$(date +%s%N)
  (cd "$tmp/show" && exec env SDL_AUDIODRIVER=dummy "${cmd[@]}" >/dev/null 2>"$err") &
  pid=$!
  for i in $(seq 6000); do
    if grep -q '^start-up:' "$err"; then seen=$(date +%s%N); break; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.01
  done
  [ -n "$seen" ] || { echo "measure-windows: $name run $n showed no frame: $(tail -n 3 "$err")" >&2; exit 1; }
  echo "$launched $seen" >"$tmp/$name.$n.times"
  sleep "$seconds"
  # Without a window manager the focus follows the pointer, which the
  # previous program's window may have held: the demo's window is given it.
  # Again every 5 s: on a loaded machine a key can come before the window
  # has taken it, and one Escape more is harmless.
  local find=(--pid "$pid")
  [ "$name" = wine ] && find=(--class "$(basename "$windows_demo")")
  for i in $(seq 600); do
    if [ $((i % 100)) = 1 ]; then
      for window in $(xdotool search --onlyvisible "${find[@]}" 2>/dev/null); do
        xdotool windowfocus "$window" 2>/dev/null || true
      done
      xdotool mousemove 10 10 key Escape
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    echo "measure-windows: $name run $n did not end on Escape" >&2
  fi
  wait "$pid" 2>/dev/null || true
  [ "$name" = wine ] && { wineserver -k 2>/dev/null || true; }
  grep -q '^frames:' "$err" || { echo "measure-windows: $name run $n printed no frame figures: $(tail -n 3 "$err")" >&2; exit 1; }
}

# still NAME N: one 1920x1080 still, its wall time (ns) to $tmp/NAME.N.still.
still() {
  local name=$1 n=$2 started ended
  local cmd=("$linux_demo")
  [ "$name" = wine ] && cmd=(wine "$windows_demo")
  started=$(date +%s%N)
  (cd "$tmp/show" && exec "${cmd[@]}" --render 1:05 -o "still-$name.png" >/dev/null 2>"$tmp/$name.$n.still.err") ||
    { echo "measure-windows: $name still $n failed: $(tail -n 3 "$tmp/$name.$n.still.err")" >&2; exit 1; }
  ended=$(date +%s%N)
  echo $((ended - started)) >"$tmp/$name.$n.still"
  [ "$name" = wine ] && { wineserver -k 2>/dev/null || true; }
  return 0
}

for n in $(seq "$runs"); do
  run linux "$n"
  run wine "$n"
done
for n in $(seq "$runs"); do
  still linux "$n"
  still wine "$n"
done

python3 - "$tmp" "$runs" "$size" <<'PY'
import re, statistics, sys
tmp, runs, size = sys.argv[1], int(sys.argv[2]), sys.argv[3]

def figures(name):
    rows = {"start-up, demo's own ms": [], "start-up, from launch ms": [],
            "frame median ms": [], "frame p99 ms": [], "frames": [],
            "1920x1080 still ms": []}
    for n in range(1, runs + 1):
        err = open(f"{tmp}/{name}.{n}.err").read()
        launched, seen = map(int, open(f"{tmp}/{name}.{n}.times").read().split())
        rows["start-up, demo's own ms"].append(float(re.search(r"^start-up: ([\d.]+) ms", err, re.M).group(1)))
        rows["start-up, from launch ms"].append((seen - launched) / 1e6)
        m = re.search(r"^frames: (\d+), median ([\d.]+) ms, p99 ([\d.]+) ms", err, re.M)
        rows["frames"].append(int(m.group(1)))
        rows["frame median ms"].append(float(m.group(2)))
        rows["frame p99 ms"].append(float(m.group(3)))
        rows["1920x1080 still ms"].append(int(open(f"{tmp}/{name}.{n}.still").read()) / 1e6)
    return {k: statistics.median(v) for k, v in rows.items()}

linux, wine = figures("linux"), figures("wine")
print(f"screen {size}, {runs} runs each, medians over the runs")
print(f"{'':26}{'Linux demo':>12}{'demo.exe/Wine':>15}{'ratio':>8}")
for key in ("start-up, demo's own ms", "start-up, from launch ms", "frame median ms", "frame p99 ms",
            "1920x1080 still ms"):
    print(f"{key:26}{linux[key]:12.1f}{wine[key]:15.1f}{wine[key] / linux[key]:8.2f}")
print(f"{'frames shown':26}{linux['frames']:12.0f}{wine['frames']:15.0f}")
PY
