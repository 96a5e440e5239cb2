#!/usr/bin/env bash
# The reader benchmark of a baseline revision and of this tree, side by side: each tree's
# bench_reader (FERROKIT::readMagnetometerMeasures on generated files of 10,000 and 1,000,000
# lines) is built in Release, then the two run in alternation, ROUNDS times each, and the median
# wall and CPU time per file size is printed with the speed-up.
#
#   bench/compare_reader_bench.sh [BASE_REVISION] [ROUNDS]     defaults: ffb8e24, 5
#
# The baseline is checked out in a temporary git worktree, removed at exit.
set -euo pipefail
cd "$(dirname "$0")/.."

base_revision="${1:-ffb8e24}"
rounds="${2:-5}"
work="$(mktemp -d)"
base_tree="$work/base"
trap 'git worktree remove --force "$base_tree" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

git worktree add --detach "$base_tree" "$base_revision" >/dev/null 2>&1
for tree in base new; do
  source_dir="$base_tree"
  [[ "$tree" == new ]] && source_dir="$PWD"
  cmake -S "$source_dir" -B "$work/build-$tree" -DCMAKE_BUILD_TYPE=Release -DFLUXTRIM_BENCH=ON \
    -DFLUXTRIM_TESTS=OFF >/dev/null
  cmake --build "$work/build-$tree" -j2 --target bench_reader >/dev/null
done

# One line per run and size: tree, benchmark name, wall and CPU time in milliseconds.
for ((round = 0; round < rounds; ++round)); do
  for tree in base new; do
    "$work/build-$tree/bench/bench_reader" --benchmark_format=csv 2>/dev/null |
      awk -F, -v tree="$tree" '$1 ~ /^"BM_/ { gsub(/"/, "", $1); print tree, $1, $3, $4 }'
  done
done >"$work/runs"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
printf '%-36s %12s %12s %12s %12s %9s\n' benchmark "base wall" "new wall" "base CPU" "new CPU" speed-up
for name in $(awk '{ print $2 }' "$work/runs" | sort -u); do
  base_wall=$(awk -v n="$name" '$1 == "base" && $2 == n { print $3 }' "$work/runs" | median)
  new_wall=$(awk -v n="$name" '$1 == "new" && $2 == n { print $3 }' "$work/runs" | median)
  base_cpu=$(awk -v n="$name" '$1 == "base" && $2 == n { print $4 }' "$work/runs" | median)
  new_cpu=$(awk -v n="$name" '$1 == "new" && $2 == n { print $4 }' "$work/runs" | median)
  awk -v n="$name" -v bw="$base_wall" -v nw="$new_wall" -v bc="$base_cpu" -v nc="$new_cpu" \
    'BEGIN { printf "%-36s %9.2f ms %9.2f ms %9.2f ms %9.2f ms %8.1fx\n", n, bw, nw, bc, nc, bw / nw }'
done
echo "medians of $rounds alternating runs each; CPU time is that of the calling thread only"
