#!/usr/bin/env bash
# Runs a benchmark program built at a git revision (the baseline) and the same program built from
# the working tree in alternation, several rounds, and prints the median wall time of every
# benchmark side by side (a benchmark that exists in one build only shows "-" for the other).
#
# Usage: bench/compare_bench.sh BASELINE_REVISION [PROGRAM [ROUNDS [FILTER]]]
#   PROGRAM: bench_svd (default), bench_calibration or bench_reader; ROUNDS: default 5;
#   FILTER: a --benchmark_filter regular expression (default: the 1,000,000-row cases).
# Needs git, cmake and Google Benchmark (libbenchmark-dev).
set -euo pipefail

if (($# < 1)); then
  echo "usage: $0 BASELINE_REVISION [PROGRAM [ROUNDS [FILTER]]]" >&2
  exit 2
fi
baseline_rev="$1"
program="${2:-bench_svd}"
rounds="${3:-5}"
filter="${4:-/1000000}"

cd "$(dirname "$0")/.."
repo="$PWD"
baseline_commit="$(git rev-parse --verify "$baseline_rev^{commit}")"
work="$(mktemp -d /tmp/fluxtrim-bench.XXXXXX)"
baseline_tree="$work/baseline-src"
cleanup() {
  git -C "$repo" worktree remove --force "$baseline_tree" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

build() {  # source directory, build directory
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DFLUXTRIM_TESTS=OFF -DFLUXTRIM_BENCH=ON \
    >/dev/null
  cmake --build "$2" -j2 --target "$program" >/dev/null
}
echo "building $program at $baseline_rev (${baseline_commit:0:12}) and from the working tree ..."
git worktree add --detach "$baseline_tree" "$baseline_commit" >/dev/null 2>&1
build "$baseline_tree" "$work/build-baseline"
build "$repo" "$repo/build-compare-bench"

# One run of a build: "name,real_time" lines in milliseconds.
run_once() {  # executable, label
  "$1" --benchmark_filter="$filter" --benchmark_format=csv 2>/dev/null |
    awk -F, -v label="$2" '
      /^name,/ { for (i = 1; i <= NF; ++i) { if ($i == "real_time") t = i; if ($i == "time_unit") u = i } next }
      t && NF >= t {
        gsub(/"/, "", $1); unit = $u; gsub(/"/, "", unit)
        f = unit == "ns" ? 1e-6 : unit == "us" ? 1e-3 : unit == "s" ? 1e3 : 1
        printf "%s %s %.3f\n", label, $1, $t * f
      }'
}

results="$work/results"
: >"$results"
for ((round = 1; round <= rounds; ++round)); do
  echo "round $round of $rounds ..."
  if ((round % 2)); then
    run_once "$work/build-baseline/bench/$program" baseline >>"$results"
    run_once "$repo/build-compare-bench/bench/$program" new >>"$results"
  else
    run_once "$repo/build-compare-bench/bench/$program" new >>"$results"
    run_once "$work/build-baseline/bench/$program" baseline >>"$results"
  fi
done

echo
printf '%-40s %16s %16s\n' "benchmark (median of $rounds)" "baseline ms" "new ms"
awk '
  { key = $2; if (!(key in seen)) { seen[key] = 1; order[++n] = key } v[$1, key, ++c[$1, key]] = $3 }
  function median(label, key,    k, m, a, i, j, t) {
    m = c[label, key]
    if (m == 0) return "-"
    for (k = 1; k <= m; ++k) a[k] = v[label, key, k]
    for (i = 2; i <= m; ++i) for (j = i; j > 1 && a[j - 1] > a[j]; --j) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return sprintf("%.1f", m % 2 ? a[(m + 1) / 2] : (a[m / 2] + a[m / 2 + 1]) / 2)
  }
  END { for (i = 1; i <= n; ++i) printf "%-40s %16s %16s\n", order[i], median("baseline", order[i]), median("new", order[i]) }
' "$results"
