#!/usr/bin/env bash
# Start-up and frame times of demo.exe under Wine against the Linux demo, on
# one virtual X server, playing the bundled show:
#   scripts/measure-windows.sh [--runs N] [--seconds S] [--size WxH]
# Each program plays the show N times (default 3, alternating) for S seconds
# (default 15) of show and is ended with Escape. Start-up is the time from the
# launch to the first show frame (the loading screen included); frame times
# are the gaps between presented show frames, as the demo records them with
# DEMO_FRAME_LOG. Prints the medians over the runs of each figure for both
# programs and their ratios (Wine / Linux). Needs build/demo and
# build-windows/demo.exe (./test or scripts/build-windows.sh build them).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=3 seconds=15 size=1280x720
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "measure-windows: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
done
linux_demo=$PWD/build/demo
windows_demo=$PWD/build-windows/demo.exe
for f in "$linux_demo" "$windows_demo"; do
  [ -f "$f" ] || { echo "measure-windows: $f is missing; build it first" >&2; exit 1; }
done
for tool in Xvfb xdotool xwd convert wine wineserver python3; do
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

# run NAME N: one run; the frame log goes to $tmp/NAME.N.log, the launch time
# (ns) to $tmp/NAME.N.start.
run() {
  local name=$1 n=$2 log=$tmp/$1.$2.log pid corner i
  local cmd=("$linux_demo")
  [ "$name" = wine ] && cmd=(wine "$windows_demo")
  date +%s%N >"$tmp/$name.$n.start"
  (cd "$tmp/show" && exec env SDL_AUDIODRIVER=dummy DEMO_FRAME_LOG="$log" "${cmd[@]}" \
    >/dev/null 2>"$tmp/$name.$n.err") &
  pid=$!
  # The show has begun once the corner shows its blue ground instead of the
  # loading screen's pink; from then on it plays for the asked seconds.
  for i in $(seq 600); do
    corner=$(xwd -root -silent | convert xwd:- -crop 1x1+2+2 -depth 8 rgb:- 2>/dev/null | od -An -tu1 | xargs)
    [ "$corner" = "0 51 128" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  sleep "$seconds"
  xdotool mousemove 10 10 key Escape
  for i in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    echo "measure-windows: $name run $n did not end on Escape" >&2
  fi
  wait "$pid" 2>/dev/null || true
  [ "$name" = wine ] && { wineserver -k 2>/dev/null || true; }
  [ -s "$log" ] || { echo "measure-windows: $name run $n recorded no frames: $(tail -n 3 "$tmp/$name.$n.err")" >&2; exit 1; }
}

for n in $(seq "$runs"); do
  run linux "$n"
  run wine "$n"
done

python3 - "$tmp" "$runs" "$size" <<'PY'
import statistics, sys
tmp, runs, size = sys.argv[1], int(sys.argv[2]), sys.argv[3]

def figures(name):
    start, median, p99, frames = [], [], [], []
    for n in range(1, runs + 1):
        t0 = int(open(f"{tmp}/{name}.{n}.start").read())
        times = [int(line) for line in open(f"{tmp}/{name}.{n}.log")]
        gaps = sorted((b - a) / 1e6 for a, b in zip(times, times[1:]))
        start.append((times[0] - t0) / 1e6)
        median.append(statistics.median(gaps))
        p99.append(gaps[min(len(gaps) - 1, int(0.99 * len(gaps)))])
        frames.append(len(times))
    return {"start-up ms": statistics.median(start), "frame median ms": statistics.median(median),
            "frame p99 ms": statistics.median(p99), "frames": statistics.median(frames)}

linux, wine = figures("linux"), figures("wine")
print(f"screen {size}, {runs} runs each, medians over the runs")
print(f"{'':18}{'Linux demo':>12}{'demo.exe/Wine':>15}{'ratio':>8}")
for key in ("start-up ms", "frame median ms", "frame p99 ms"):
    print(f"{key:18}{linux[key]:12.1f}{wine[key]:15.1f}{wine[key] / linux[key]:8.2f}")
print(f"{'frames recorded':18}{linux['frames']:12.0f}{wine['frames']:15.0f}")
PY
