#!/usr/bin/env bash
# Runs every benchmark of bench/ side by side on this machine, and ends with
# one table: each measure as a ratio to its yardstick (another library, a
# clear-and-swap floor) or as a figure beside its goal. The inflate and PNG
# benchmarks run twice back to back and both of their tables are printed, with
# the machine's load around them; the closing table gives the second run's
# ratio in brackets beside the first, so that the spread shows. Each benchmark's
# own output is kept in build/bench/logs/ for the details.
#
#   bench/run-all.sh            # from the repository root; builds what is missing
#   bench/run-all.sh --quick    # shorter runs (fewer show frames, one clock run)
#   bench/run-all.sh --codecs   # the inflate and PNG benchmarks only
#   BENCH_BUILD=build-x bench/run-all.sh   # another build folder than build/
#
# The GL benchmarks open a 1920x1080 window on a private Xvfb screen. The
# machine should be otherwise idle: every ratio is taken within one run, but a
# busy machine still widens the spread.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0 codecs=0
case "${1:-}" in
  --quick) quick=1 ;;
  --codecs) codecs=1 ;;
  "") ;;
  -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "run-all: unknown argument '$1' (try --help)" >&2; exit 2 ;;
esac

scripts/install-deps.sh
build=${BENCH_BUILD:-build}
targets=(bench_inflate bench_png)
[ "$codecs" = 1 ] || targets+=(bench_tracks bench_clock bench_show bench_frame_parts)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEMO_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >/dev/null

logs=$build/bench/logs
mkdir -p "$logs"
export SDL_AUDIODRIVER=dummy
on_screen() { xvfb-run -a -s "-screen 0 1920x1080x24" "$@"; }

show_step=2 parts_step=8 clock_runs=10
[ "$quick" = 1 ] && show_step=10 parts_step=40 clock_runs=1

run() {  # run NAME COMMAND...: output to the log, a line on stderr for progress
  local name=$1
  shift
  echo "run-all: $name" >&2
  if ! "$@" >"$logs/$name.txt" 2>"$logs/$name.err"; then
    echo "run-all: $name failed; see $logs/$name.err" >&2
  fi
}

load() { cut -d' ' -f1-3 /proc/loadavg; }
load_before=$(load)
run inflate "$build/bench/bench_inflate"
run inflate-2 "$build/bench/bench_inflate"
run png "$build/bench/bench_png"
run png-2 "$build/bench/bench_png"
if [ "$codecs" = 0 ]; then
  run tracks "$build/bench/bench_tracks" --benchmark_format=json --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true
  run clock "$build/bench/bench_clock" --benchmark_format=json --benchmark_repetitions="$clock_runs"
  run show on_screen "$build/bench/bench_show" "$show_step"
  run frame_parts on_screen "$build/bench/bench_frame_parts" "$parts_step"
else
  rm -f "$logs"/{tracks,clock,show,frame_parts}.txt
fi

load_after=$(load)

# The two runs' own tables, as each benchmark printed them, with the commands
# and the machine's load around them: a ratio taken on a busy machine says so.
echo "== commands: $build/bench/bench_inflate (twice), $build/bench/bench_png (twice)"
echo "== load average (1, 5, 15 min): $load_before before, $load_after after"
echo
for name in inflate inflate-2 png png-2; do
  echo "== $name"
  case $name in
    inflate*) sed -n '/^input /,$p' "$logs/$name.txt" ;;
    png*) cat "$logs/$name.txt" ;;
  esac
  echo
done

python3 - "$logs" <<'EOF'
import json, os, re, sys

logs = sys.argv[1]
rows = []  # (area, measure, result, goal)

def text(name):
    path = os.path.join(logs, name + ".txt")
    return open(path).read() if os.path.exists(path) else ""

def bench_json(name):
    try:
        return json.loads(text(name))["benchmarks"]
    except (ValueError, KeyError):
        return []

# The inflater against the faster of libdeflate and ISA-L, and zlib, per input;
# the second run's ratio to the best follows in brackets.
def inflate_rows(name):
    found = {}
    for line in text(name).splitlines():
        m = re.match(r"(\S+/\d)\s+(?:[\d.]+\s+){4}([\d.]+)x\s+([\d.]+)x\s+([\d.]+)x\s+([\d.]+)x\s*$", line)
        if m:
            found[m.group(1)] = m.groups()[1:]
    m = re.search(r"geometric mean over \d+ inputs: ([\d.]+)x best", text(name))
    return found, m.group(1) if m else None

first, first_mean = inflate_rows("inflate")
second, second_mean = inflate_rows("inflate-2")
for input, (deflate, isal, best, zlib) in first.items():
    again = f" [{second[input][2]}x]" if input in second else ""
    rows.append(("inflate", input, f"{best}x best{again} ({deflate}x libdeflate, {isal}x ISA-L), {zlib}x zlib",
                 ">= 1.0x best"))
if first_mean:
    again = f" [{second_mean}x]" if second_mean else ""
    rows.append(("inflate", "geometric mean", f"{first_mean}x best{again}", ">= 1.1x best"))

# The PNG decoder against libspng and libpng, per kind and overall; the
# second run's ratio to libspng follows in brackets.
def png_rows(name):
    found = {}
    for line in text(name).splitlines():
        m = re.match(r"(\S.*?)\s+\d+\s+[\d.]+\s+[\d.]+\s+[\d.]+\s+[-\d.]+\s+([\d.]+)\s+([\d.]+)\s*$", line)
        if m and m.group(1) != "kind":
            found[m.group(1)] = m.groups()[1:]
    m = re.search(r"geometric mean over \d+ kinds: ([\d.]+)x libspng, ([\d.]+)x libpng", text(name))
    return found, m.groups() if m else None

first, first_mean = png_rows("png")
second, second_mean = png_rows("png-2")
for kind, (spng, libpng) in first.items():
    again = f" [{second[kind][0]}x]" if kind in second else ""
    rows.append(("png", kind, f"{spng}x libspng{again}, {libpng}x libpng", ">= 2.0x libspng"))
if first_mean:
    again = f" [{second_mean[0]}x]" if second_mean else ""
    rows.append(("png", "geometric mean", f"{first_mean[0]}x libspng{again}, {first_mean[1]}x libpng",
                 ">= 3.0x libspng"))

# TrackValue: nanoseconds a call, playback order and random rows.
for b in bench_json("tracks"):
    if b.get("aggregate_name") == "median" and b["name"].startswith("BM_TrackValue"):
        rows.append(("tracks", b["run_name"], f"{b['cpu_time']:.1f} ns (CPU)",
                     "<= 5 ns" if "Playback" in b["name"] else "<= 25 ns"))

# The music clock: every run within 2 ms of its fitted line, never backwards.
device = [b for b in bench_json("clock") if b["name"].startswith("BM_ClockDevice") and "aggregate_name" not in b]
if device:
    good = sum(1 for b in device if b["max_dev_ms"] <= 2.0 and b["max_back_ms"] == 0 and b["max_jump_ms"] <= 1.0)
    worst = max(b["max_dev_ms"] for b in device)
    rows.append(("clock", "runs within 2 ms, no step back, no jump > 1 ms",
                 f"{good} of {len(device)} (worst {worst:.2f} ms)", "all"))

show = text("show")
m = re.search(r"([\d.]+) ms from process start to the first demo frame", show)
if m:
    rows.append(("start-up", "to the first show frame", f"{float(m.group(1)):.0f} ms", "< 400 ms"))
m = re.search(r"peak resident memory[^:]*: ([\d.]+) MiB", show)
if m:
    rows.append(("start-up", "peak resident memory", f"{m.group(1)} MiB", "report"))
m = re.search(r"show frames:\s+median [\d.]+ ms \(([\d.]+)x floor\), p99 [\d.]+ ms \(([\d.]+)x floor\)", show)
if m:
    rows.append(("show", "frame median / floor", f"{m.group(1)}x", "<= 1.5x"))
    rows.append(("show", "frame p99 / floor", f"{m.group(2)}x", "<= 2.0x"))

for line in text("frame_parts").splitlines():
    m = re.match(r"\s+(show|code \d+)\s+\d+\s+([\d.]+)x \|\s+([-\d.]+)x\s+([-\d.]+)x\s+([-\d.]+)x\s+([-\d.]+)x\s+([-\d.]+)x", line)
    if m:
        rows.append(("frame parts", m.group(1),
                     f"{m.group(2)}x = present {m.group(3)} + driver {m.group(4)} + vertex {m.group(5)}"
                     f" + fill {m.group(6)} + sampling {m.group(7)}", "floor multiples"))

widths = [max(len(r[i]) for r in rows + [("area", "measure", "result", "goal")]) for i in range(4)]
def out(r):
    print("  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())
out(("area", "measure", "result", "goal"))
out(tuple("-" * w for w in widths))
for r in rows:
    out(r)
if not rows:
    sys.exit("run-all: no benchmark gave a result; see " + logs)
EOF
