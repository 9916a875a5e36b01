#!/usr/bin/env bash
# Fuzzes every parser of the demo under AddressSanitizer and
# UndefinedBehaviorSanitizer: the inflater, the PNG decoder, the PNG route of
# the image loader, the binary track reader, the track text compiler, the
# studio's edits of track text, the studio's request bodies and the GIF, JPEG
# and BMP picture decoders.
#
#   scripts/fuzz.sh [SECONDS]      each target for SECONDS (default 60)
#
# Environment: FUZZ_TARGETS picks targets ("inflate png ..."; default all),
# FUZZ_RUNS stops each target after that many executions (SECONDS still caps
# it), FUZZ_TIMEOUT the seconds one input may take (default 60: a loaded
# machine needs more), FUZZ_JOBS the build's parallel jobs (default 2),
# FUZZ_PARALLEL how many targets run at once (default: one per core).
# Needs clang. Builds into build-fuzz; corpora grow in build-fuzz/corpus and
# carry over between runs; a failing input lands in build-fuzz/artifacts.
# Prints one line per target; exits non-zero on the first failure, with the
# end of the fuzzer's report.
set -euo pipefail
root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
cd "$root"

usage() { sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; }
case "${1:-}" in
  -h|--help) usage; exit 0 ;;
  "") seconds=60 ;;
  *[!0-9]*) echo "fuzz.sh: SECONDS must be a whole number, not '$1'" >&2; usage >&2; exit 2 ;;
  *) seconds=$1 ;;
esac
all_targets="inflate png pngroute track tracktext studioedit studiojson gif jpeg bmp"
targets=${FUZZ_TARGETS:-$all_targets}
for t in $targets; do
  case " $all_targets " in *" $t "*) ;; *) echo "fuzz.sh: no target '$t' (targets: $all_targets)" >&2; exit 2 ;; esac
done
command -v clang++ >/dev/null 2>&1 || { echo "fuzz.sh: needs clang++" >&2; exit 2; }

build=build-fuzz
log=$(mktemp)
trap 'rm -f "$log"' EXIT
fail() {
  echo "fuzz: $1 failed; the end of its output:" >&2
  tail -n 60 "$log" >&2
  exit 1
}

# Line tables are all a report needs.
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEMO_FUZZ=ON -DDEMO_BENCH=OFF \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  >"$log" 2>&1 || fail "configuring $build"
cmake --build "$build" -j "${FUZZ_JOBS:-2}" --target $(printf 'fuzz_%s ' $targets) >"$log" 2>&1 ||
  fail "building the fuzz targets"

# Seeds, made afresh from the repository's test data each run.
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds" "$build/artifacts"
for t in $all_targets; do mkdir -p "$seeds/$t" "$build/corpus/$t"; done
cp tests/png/pngsuite/*.png res/*.png "$seeds/png/"
cp "$seeds"/png/*.png "$seeds/pngroute/"
cp res/*.track "$seeds/track/"
cp tests/fuzz/seeds/gif/* res/*.gif "$seeds/gif/"
cp tests/fuzz/seeds/jpeg/* "$seeds/jpeg/"
cp tests/fuzz/seeds/bmp/* "$seeds/bmp/"
# The studio's request bodies: one of each kind of op and of transport.
printf '%s' '{"version":2,"ops":[{"track":"back.x","row":20,"value":0.1,"kind":"linear"},{"track":"back.y","row":0,"delete":true}]}' >"$seeds/studiojson/keys.json"
printf '%s' '{"version":2,"ops":[{"shift":{"from":40,"by":-5}},{"tempo":[{"bpm":120,"at":0}]},{"mark":{"row":40,"name":"a b"}},{"mark":{"row":40,"delete":true}}]}' >"$seeds/studiojson/notes.json"
printf '%s' '{"seek":120.5,"pause":true,"loop":[20,80],"scrubAudio":true}' >"$seeds/studiojson/transport.json"
python3 - "$seeds" <<'PY'
import os, struct, sys
seeds = sys.argv[1]
# The inflater: each PNG's gathered IDAT data, one zlib stream.
for name in sorted(os.listdir(os.path.join(seeds, "png"))):
    data = open(os.path.join(seeds, "png", name), "rb").read()
    pos, idat = 8, b""
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        idat += data[pos + 8:pos + 8 + length] if kind == b"IDAT" else b""
        pos += 12 + length
    if idat:
        open(os.path.join(seeds, "inflate", name[:-4] + ".zlib"), "wb").write(idat)
# The compiler: the bundled show's text, one seed per track so that each
# stays small.
text = open("res/src/show.tracks").read()
chunks = text.split("\ntrack ")
for i, chunk in enumerate(chunks):
    open(os.path.join(seeds, "tracktext", "show%02d.tracks" % i), "w").write(
        chunk if i == 0 else "track " + chunk)
PY

# One fuzzer per core at once; each writes its own log, read in target order
# when all are done.
run_target() {
  local t=$1 runs=()
  [ -n "${FUZZ_RUNS:-}" ] && runs=(-runs="$FUZZ_RUNS")
  # stderr closed: the loaders' one-line messages about damaged files would
  # flood the log; the fuzzer's and the sanitizers' reports still come. A
  # small quarantine keeps freed memory in reuse: on a virtual machine the
  # page faults of ever fresh memory cost more than the runs themselves.
  ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=16 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" "${runs[@]}" -timeout="${FUZZ_TIMEOUT:-60}" -rss_limit_mb=2048 \
    -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
    "$build/corpus/$t" "$seeds/$t" >"$logs/$t" 2>&1 && echo 0 >"$logs/$t.status" || echo $? >"$logs/$t.status"
}
logs=$(mktemp -d)
trap 'rm -rf "$log" "$logs"' EXIT
for t in $targets; do
  while [ "$(jobs -rp | wc -l)" -ge "${FUZZ_PARALLEL:-$(nproc)}" ]; do wait -n || true; done
  run_target "$t" &
done
wait
for t in $targets; do
  cp "$logs/$t" "$log"
  [ "$(cat "$logs/$t.status")" = 0 ] || fail "fuzz_$t"
  executed=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
  elapsed=$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | grep -o 'in [0-9]*' | grep -o '[0-9]*' || echo '?')
  echo "fuzz: fuzz_$t clean: $executed runs in ${elapsed} s, corpus $(ls "$build/corpus/$t" | wc -l) files"
done
