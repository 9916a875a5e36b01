#!/usr/bin/env bash
# Our inflater against zlib's on Linux and, built with MinGW-w64, on Windows
# under Wine, side by side: the same source (bench/zlib_ratio.cpp), the same
# compiler options as the two builds of the demo (-O2), the same inputs and
# the same zlib release. Prints both tables, then per input the Windows ratio
# as a share of the Linux one; the two should agree within 10 %. Beside it,
# our own and zlib's throughput under Wine as a share of Linux's show which
# of the two moved where they do not. The Windows table's first line says
# which fast loop our processor check picked there.
#
#   bench/run-windows.sh                 # from anywhere; builds what it needs
#   bench/run-windows.sh --rounds 31     # more rounds a measure (15 by default)
#   BENCH_WIN_BUILD=build-x bench/run-windows.sh   # another folder than build-bench-windows/
#
# The two programs run one after the other, not input by input in turns: the
# machine should be idle, and a second run shows the spread.
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=15
while [ $# -gt 0 ]; do
  case $1 in
    --rounds)
      [[ ${2:-} =~ ^[0-9]+$ ]] || { echo "run-windows: --rounds wants a count" >&2; exit 2; }
      rounds=$2
      shift 2
      ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-windows: unknown argument '$1' (try --help)" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh
build=${BENCH_WIN_BUILD:-build-bench-windows}
mkdir -p "$build"
sources=(bench/zlib_ratio.cpp src/png/Inflate.cpp src/png/InflateReference.cpp)
flags=(-std=c++20 -O2 -DNDEBUG -Wall -Wextra -Isrc)
mingw=$(command -v x86_64-w64-mingw32-g++-posix || command -v x86_64-w64-mingw32-g++) ||
  { echo "run-windows: no MinGW-w64 compiler (scripts/install-deps.sh installs it)" >&2; exit 1; }
# Rebuilt only when a source is newer than the program.
build_one() {  # build_one OUTPUT COMPILER ARGS...
  local out=$1
  shift
  local f
  for f in "${sources[@]}" bench/BenchInputs.h src/png/Inflate.h src/png/InflateTables.h; do
    if [ ! -f "$out" ] || [ "$f" -nt "$out" ]; then
      echo "run-windows: building $out" >&2
      "$@" "${flags[@]}" "${sources[@]}" -o "$out" -lz
      return
    fi
  done
}
build_one "$build/zlib_ratio" g++
build_one "$build/zlib_ratio.exe" "$mingw" -static

"$build/zlib_ratio" --prepare "$build/inputs"
inputs=()
for name in photo-png screenshot show-still source executable; do inputs+=("$build/inputs/$name.raw"); done

echo "== Linux"
"$build/zlib_ratio" --rounds "$rounds" "${inputs[@]}" | tee "$build/linux.txt"
echo
echo "== Windows (Wine)"
tests/windows/wine_run.sh "$PWD/$build/wine" "$build/zlib_ratio.exe" --rounds "$rounds" "${inputs[@]}" |
  tr -d '\r' | tee "$build/windows.txt"
echo
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$build/linux.txt" "$build/windows.txt" <<'EOF'
import re, sys

# Per input: (ours MB/s, zlib MB/s, ours / zlib); the geometric mean has only the ratio.
def table(path):
    rows = {}
    for line in open(path):
        m = re.match(r"(\S+/\d)\s+(\d+)\s+(\d+)\s+([\d.]+)x\s*$", line)
        if m:
            rows[m.group(1)] = (float(m.group(2)), float(m.group(3)), float(m.group(4)))
        m = re.match(r"geometric mean over \d+ inputs: ([\d.]+)x", line)
        if m:
            rows["geometric mean"] = (None, None, float(m.group(1)))
    return rows

linux, windows = table(sys.argv[1]), table(sys.argv[2])
if not linux or not windows:
    sys.exit("run-windows: a run gave no table")
# The ratios against zlib are the measure; our own and zlib's throughput
# under Wine against Linux say which side a difference comes from (the two
# zlib builds need not be equally fast).
print(f"{'input':16} {'Linux /zlib':>11} {'Windows /zlib':>13} {'Windows/Linux':>13}   {'ours W/L':>8} {'zlib W/L':>8}")
worst = worst_ours = 0.0
for name, (l_ours, l_zlib, l) in linux.items():
    if name not in windows:
        print(f"{name:16} {l:10.2f}x {'missing':>13}")
        worst = float("inf")
        continue
    w_ours, w_zlib, w = windows[name]
    share = w / l
    worst = max(worst, abs(share - 1))
    speeds = ""
    if l_ours:
        worst_ours = max(worst_ours, abs(w_ours / l_ours - 1))
        speeds = f"   {w_ours / l_ours:7.2f}x {w_zlib / l_zlib:7.2f}x"
    print(f"{name:16} {l:10.2f}x {w:12.2f}x {share:12.2f}x{speeds}")
print(f"largest difference: {worst * 100:.0f} % in the ratio against zlib (goal: within 10 %), "
      f"{worst_ours * 100:.0f} % in our own throughput")
EOF
