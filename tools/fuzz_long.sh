#!/usr/bin/env bash
# Runs the libFuzzer targets one after another (never in parallel) and reports, per target, the
# executions done and the findings (crash, leak, timeout and out-of-memory inputs).
#
#   tools/fuzz_long.sh [--time SECONDS] [--runs N] [--build DIR] [TARGET[=RUNS] ...] [-- FLAGS]
#
#   --time SECONDS  longest run per target (default 3600); the run also ends after RUNS executions
#   --runs N        executions per target (default: no limit), overridden by TARGET=RUNS
#   --build DIR     fuzz build tree (default build-fuzz); configured with clang++ and built here
#   TARGET          fuzz_reader, fuzz_calibration, fuzz_cli (default: all three)
#   FLAGS           further libFuzzer flags, passed to every target (e.g. -max_len=8192)
#
# Each target fuzzes from its committed seeds (fuzz/corpus/TARGET, never written to) plus a
# working corpus kept in DIR/fuzz-work/corpus/TARGET, so a later run resumes where this one
# stopped. Findings are written to DIR/fuzz-work/findings/TARGET/<start time>/, one folder per
# run, so earlier findings neither count again nor get lost; a finding is fixed and its input
# copied into fuzz/corpus/TARGET as a regression seed. Exit status: 0 when no target found
# anything, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

time_limit=3600
runs=-1
build=build-fuzz
targets=()
extra=()
while (($# > 0)); do
  case "$1" in
    --) shift; extra=("$@"); break ;;
    --time) time_limit="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    -h|--help) sed -n '2,19p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
((${#targets[@]} > 0)) || targets=(fuzz_reader fuzz_calibration fuzz_cli)

names=()
for entry in "${targets[@]}"; do names+=("${entry%%=*}"); done
cmake -S . -B "$build" -DFLUXTRIM_FUZZ=ON -DFLUXTRIM_TESTS=OFF -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target "${names[@]}"

work="$PWD/$build/fuzz-work"
mkdir -p "$work"
touch "$work/started"
summary=()
failed=0
for entry in "${targets[@]}"; do
  name="${entry%%=*}"
  target_runs="$runs"
  [[ "$entry" == *=* ]] && target_runs="${entry#*=}"
  corpus="$work/corpus/$name"
  findings="$work/findings/$name/$(date +%Y%m%d-%H%M%S)"
  log="$work/$name.log"
  mkdir -p "$corpus" "$findings"
  echo "== $name: up to $time_limit s, runs $target_runs (log $log)"
  status=0
  "$build/fuzz/$name" -max_total_time="$time_limit" -runs="$target_runs" -timeout=60 \
    -print_final_stats=1 -artifact_prefix="$findings/" ${extra[@]+"${extra[@]}"} \
    "$corpus" "fuzz/corpus/$name" \
    >"$log" 2>&1 || status=$?
  executed=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' |
    tail -1 || true)
  seconds=$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | awk '{print $5}' | tail -1 || true)
  found=$(find "$findings" -type f | wc -l)
  if ((status != 0 || found > 0)); then
    failed=1
    grep -E 'ERROR|SUMMARY|runtime error|fuzz_[a-z]*:' "$log" | head -20 || true
  fi
  summary+=("$(printf '%-18s executions %12s  seconds %6s  findings %3d  status %d' \
    "$name" "${executed:-?}" "${seconds:-?}" "$found" "$status")")
done

echo
echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
if ((failed != 0)); then
  echo "findings of this run:"
  for entry in "${targets[@]}"; do
    find "$work/findings/${entry%%=*}" -type f -newer "$work/started" -printf '   %p\n'
  done
fi
exit "$failed"
