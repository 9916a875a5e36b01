#!/usr/bin/env bash
# Every fuzz target briefly, as part of ./test: scripts/fuzz.sh with
# FUZZ_TEST_SECONDS (default 4) a target, one per core at once. Skipped
# without clang.
set -euo pipefail
root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
case "${1:-}" in
  -h|--help) sed -n '2,4p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: no clang, fuzzing skipped"
  exit 0
fi
exec "$root/scripts/fuzz.sh" "${FUZZ_TEST_SECONDS:-4}"
