#!/usr/bin/env bash
# The inflater and PNG decoder under the sanitizers: the png unit tests built
# with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan, then,
# when clang is present, each libFuzzer target for at most 30 s seeded from the
# PNG suite, built into build-fuzz. Quiet unless something fails; exits
# non-zero on any failure.
set -euo pipefail
root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
cd "$root"
suite="$root/tests/png/pngsuite"
jobs=${PNG_HARDENING_JOBS:-2}
fuzz_seconds=${PNG_FUZZ_SECONDS:-30}
log=$(mktemp)
trap 'rm -f "$log"' EXIT

fail() {
  echo "png hardening: $1 failed; the end of its output:" >&2
  tail -n 40 "$log" >&2
  exit 1
}

# 1. Unit tests under ASan + UBSan.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEMO_SANITIZE=ON -DDEMO_BENCH=OFF >"$log" 2>&1 ||
  fail "configuring build-asan"
cmake --build build-asan -j "$jobs" --target png_tests >"$log" 2>&1 || fail "building png_tests with sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build-asan/tests/png/png_tests --gtest_brief=1 >"$log" 2>&1 || fail "png_tests under sanitizers"
echo "png hardening: unit tests clean under ASan/UBSan ($(grep -o 'PASSED *] [0-9]* tests' "$log" | grep -o '[0-9]* tests'))"

# 2. Fuzzing, when clang is here.
if ! command -v clang++ >/dev/null 2>&1; then
  echo "png hardening: no clang, fuzzing skipped"
  exit 0
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEMO_FUZZ=ON -DDEMO_BENCH=OFF \
  >"$log" 2>&1 || fail "configuring build-fuzz"
cmake --build build-fuzz -j "$jobs" --target fuzz_inflate fuzz_png >"$log" 2>&1 || fail "building the fuzz targets"

# Seeds: the suite's files for the decoder, their gathered IDAT data (one zlib
# stream each) for the inflater.
seeds=build-fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds/png" "$seeds/inflate" build-fuzz/corpus/png build-fuzz/corpus/inflate
cp "$suite"/*.png "$seeds/png/"
python3 - "$suite" "$seeds/inflate" <<'PY'
import os, struct, sys
src, dst = sys.argv[1], sys.argv[2]
for name in sorted(os.listdir(src)):
    if not name.endswith(".png"):
        continue
    data = open(os.path.join(src, name), "rb").read()
    pos, idat = 8, b""
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        idat += data[pos + 8:pos + 8 + length] if kind == b"IDAT" else b""
        pos += 12 + length
    if idat:
        open(os.path.join(dst, name[:-4] + ".zlib"), "wb").write(idat)
PY

for target in inflate png; do
  ASAN_OPTIONS=detect_leaks=1 build-fuzz/tests/fuzz/fuzz_$target -max_total_time="$fuzz_seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build-fuzz/ \
    build-fuzz/corpus/$target "$seeds/$target" >"$log" 2>&1 || fail "fuzz_$target"
  echo "png hardening: fuzz_$target ${fuzz_seconds}s clean ($(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs)"
done
