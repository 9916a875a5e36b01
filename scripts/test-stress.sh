#!/usr/bin/env bash
# The whole ./test, N times one after another, each in a fresh clone of this
# repository's committed HEAD (uncommitted changes are not in it), with a
# CPU-bound load beside it: one busy loop per core, stopped at the end
# however the script ends. A test that passes only on a quiet machine, or
# only on the second try, shows up here. After ./test each run builds and
# runs the 32-bit Windows suites under 32-bit Wine, which ./test leaves out
# for time (where MinGW-w64 and Wine are there).
#
#   scripts/test-stress.sh [--help] N
#
# For each run it prints whether it passed and, when it failed, what failed:
# each test in ctest's "The following tests FAILED" lists and each line
# "test: ... failed" (or "test-suite: ... failed") from ./test. At the end:
# "passed P of N", then the failures run by run. Every run's log is kept as
# run-K.log in the folder it names at the start; a run's clone is removed
# when it passes, and when it fails its e2e screenshots are kept beside the
# log (run-K-artifacts/) before the clone goes. The clones need nothing
# outside the repository.
# Environment:
#   STRESS_COMMAND  what each run runs in its clone (default ./test and the
#                   32-bit Windows suites), through bash -c; a fake command
#                   tests this script in seconds
#   STRESS_LOAD     how many busy loops (default one per core; 0 for none)
#   STRESS_LOGS     the folder for the logs (default a new one under $TMPDIR)
# Exits 0 when every run passed, 1 when one failed, 2 on a usage error.
set -uo pipefail
root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
usage() { sed -n '2,27p' "$0" | sed 's/^# \{0,1\}//'; }
case "${1:-}" in
  -h|--help) usage; exit 0 ;;
  "") echo "test-stress.sh: how many runs? (try --help)" >&2; exit 2 ;;
  *[!0-9]*|0) echo "test-stress.sh: N must be a whole number above 0, not '$1'" >&2; exit 2 ;;
esac
[ $# -eq 1 ] || { echo "test-stress.sh: one argument expected (try --help)" >&2; exit 2; }
runs=$1
# The 32-bit suites need the 64-bit build's Windows tests beside them no
# more than ./test's Linux demotool, which ./test has just built.
i686_suites='if command -v i686-w64-mingw32-g++ >/dev/null && command -v wine >/dev/null; then
  { scripts/build-windows.sh --tests --tests-i686 >/dev/null &&
    ctest --test-dir build-windows-i686 --output-on-failure -j "$(nproc)"; } ||
    { echo "test: the 32-bit Windows suites failed (see above)" >&2; status=1; }
fi'
command=${STRESS_COMMAND:-"./test; status=\$?; $i686_suites; exit \$status"}
load=${STRESS_LOAD:-$(nproc)}
case "$load" in *[!0-9]*|"") echo "test-stress.sh: STRESS_LOAD must be a whole number" >&2; exit 2 ;; esac
head=$(git -C "$root" rev-parse HEAD) || exit 2
logs=${STRESS_LOGS:-$(mktemp -d "${TMPDIR:-/tmp}/test-stress.XXXXXX")}
mkdir -p "$logs" || exit 2
work=$(mktemp -d "${TMPDIR:-/tmp}/test-stress-clones.XXXXXX") || exit 2

load_pids=()
run_pid=""
stop() {
  local pid
  # The run in progress has a session of its own: its whole tree goes.
  [ -n "$run_pid" ] && kill -TERM -- "-$run_pid" 2>/dev/null && wait "$run_pid" 2>/dev/null
  for pid in "${load_pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${load_pids[@]}"; do wait "$pid" 2>/dev/null; done
  load_pids=()
  rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The failures a log names, one a line: ctest's list of failed tests (indented
# "NN - name (Why)" lines after its heading) and ./test's own verdicts.
failures() {
  awk '
    /The following tests FAILED:/ { listing = 1; next }
    listing && match($0, /^[ \t]*[0-9]+ - /) {
      name = substr($0, RSTART + RLENGTH)
      sub(/ \([^)]*\)[ \t]*$/, "", name)
      print name
      next
    }
    { listing = 0 }
    /^test(-suite)?: .* failed/ { print }
  ' "$1"
}

echo "test-stress: $runs run(s) of '$command' on $head, $load busy loop(s) beside each; logs in $logs"
for ((i = 0; i < load; i++)); do
  (while :; do :; done) &
  load_pids+=($!)
done

passed=0
summary=()
for ((k = 1; k <= runs; k++)); do
  clone=$work/run-$k
  log=$logs/run-$k.log
  start=$SECONDS
  if ! git clone --quiet --no-checkout "$root" "$clone" >"$log" 2>&1 ||
    ! git -C "$clone" checkout --quiet --detach "$head" >>"$log" 2>&1; then
    echo "test-stress: run $k: could not clone $root (see $log)" >&2
    summary+=("run $k: the clone failed")
    continue
  fi
  # In the background and waited for, so that Ctrl+C or SIGTERM reach the
  # trap at once rather than when the run ends.
  (cd "$clone" && exec setsid bash -c "$command") >>"$log" 2>&1 </dev/null &
  run_pid=$!
  wait "$run_pid"
  status=$?
  run_pid=""
  took=$((SECONDS - start))
  when=$(printf '%d:%02d' $((took / 60)) $((took % 60)))
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
    echo "test-stress: run $k of $runs passed ($when)"
  else
    echo "test-stress: run $k of $runs FAILED with status $status ($when); log: $log"
    found=$(failures "$log")
    [ -n "$found" ] || found="(no failed test named; see the end of the log)"
    sed 's/^/  /' <<<"$found"
    summary+=("run $k: $(paste -sd ';' <<<"$found" | sed 's/;/; /g')")
    # What the e2e tests saw is worth more than the clone's builds.
    for artifacts in "$clone"/build*/e2e-artifacts; do
      [ -d "$artifacts" ] || continue
      mkdir -p "$logs/run-$k-artifacts"
      cp -r "$artifacts" "$logs/run-$k-artifacts/$(basename "$(dirname "$artifacts")")"
    done
  fi
  rm -rf "$clone"
done

echo "passed $passed of $runs"
for line in "${summary[@]}"; do echo "  $line"; done
echo "logs: $logs"
[ "$passed" -eq "$runs" ]
