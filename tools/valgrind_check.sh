#!/usr/bin/env bash
# Runs fluxtrim.out under valgrind memcheck on the example file and on every file of the
# malformed-input corpus (plus a generated 10 MB single line, a directory and a missing path),
# and fails on any memory error or leak, or on an exit status other than 0 and 2.
#
#   tools/valgrind_check.sh [FLUXTRIM_EXE]
#
# Without an argument the tool is built in build-valgrind (optimised, with debug information, so
# reports carry line numbers). Exit status: 0 when every run is clean, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

exe="${1:-}"
if [[ -z "$exe" ]]; then
  cmake -S . -B build-valgrind -DFLUXTRIM_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-valgrind -j2 --target fluxtrim.out
  exe=build-valgrind/fluxtrim.out
fi
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# A 10 MB line of cells, made here rather than kept in the repository.
line=""
while ((${#line} < 1048576)); do line+="0.25,-0.5,0.75,"; done
for _ in 1 2 3 4 5 6 7 8 9 10; do printf '%s' "$line"; done >"$scratch/ten_megabyte_line.csv"

inputs=(examples/mag.csv tests/tool/malformed/* "$scratch/ten_megabyte_line.csv" "$scratch"
  "$scratch/missing.csv")
failed=0
for input in "${inputs[@]}"; do
  log="$scratch/valgrind.log"
  status=0
  valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=definite,indirect,possible --track-origins=yes \
    --log-file="$log" "$exe" "$input" 48.5578 3.2914 89 0.2 >/dev/null 2>&1 || status=$?
  summary=$(grep -E 'ERROR SUMMARY' "$log" | sed 's/^==[0-9]*== //')
  reachable=$(grep -E 'still reachable:' "$log" | sed 's/^==[0-9]*== *//' || true)
  # Status 2 is a report without calibration (most of the malformed files); 99 is a memcheck error.
  if ((status != 0 && status != 2)) ||
    [[ -n "$reachable" && "$reachable" != *"0 bytes in 0 blocks"* ]]; then
    failed=1
    echo "FAIL $input (status $status)"
    cat "$log"
  else
    echo "ok   $input: $summary"
  fi
done
if ((failed != 0)); then
  echo "valgrind check failed"
  exit 1
fi
echo "valgrind check passed: ${#inputs[@]} runs, no error, no leak"
