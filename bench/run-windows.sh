#!/usr/bin/env bash
# Our inflater against zlib's on Linux and, built with MinGW-w64, on Windows
# under Wine, side by side: the same source (bench/zlib_ratio.cpp), the same
# compiler options as the two builds of the demo (-O2), the same inputs and
# the same zlib release. Prints both tables, then per input the Windows ratio
# as a share of the Linux one; the two should agree within 10 %. The Windows
# table's first line says which fast loop our processor check picked there.
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
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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
  for f in "${sources[@]}" src/png/Inflate.h src/png/InflateTables.h; do
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

def ratios(path):
    table = {}
    for line in open(path):
        m = re.match(r"(\S+/\d)\s+\d+\s+\d+\s+([\d.]+)x\s*$", line)
        if m:
            table[m.group(1)] = float(m.group(2))
        m = re.match(r"geometric mean over \d+ inputs: ([\d.]+)x", line)
        if m:
            table["geometric mean"] = float(m.group(1))
    return table

linux, windows = ratios(sys.argv[1]), ratios(sys.argv[2])
if not linux or not windows:
    sys.exit("run-windows: a run gave no table")
print(f"{'input':16} {'Linux /zlib':>11} {'Windows /zlib':>13} {'Windows/Linux':>13}")
worst = 0.0
for name, l in linux.items():
    w = windows.get(name)
    if w is None:
        print(f"{name:16} {l:10.2f}x {'missing':>13}")
        worst = float("inf")
        continue
    share = w / l
    worst = max(worst, abs(share - 1))
    print(f"{name:16} {l:10.2f}x {w:12.2f}x {share:12.2f}x")
print(f"largest difference: {worst * 100:.0f} % (goal: within 10 %)")
EOF
