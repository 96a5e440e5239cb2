#!/usr/bin/env bash
# Compares fluxtrim.out built at a git revision (the baseline) with fluxtrim.out built from the
# working tree, on generated sample files of 1,000,000 and 10,000,000 samples: both run in
# alternation, several rounds each, and the table gives the median wall time, the median peak
# resident memory (/usr/bin/time -v), the peak memory per sample and the speed-up. It also checks
# that both print the same report apart from the time line, the same standard error and the same
# exit status.
#
# Usage: bench/compare_tool.sh BASELINE_REVISION [ROUNDS_1M [ROUNDS_10M]]
#   ROUNDS_1M, ROUNDS_10M: runs of each build per size (default 5 and 3).
# Environment: COMPARE_DIR, the directory below which a fresh working directory is made for the
# sample files and the baseline build (default /tmp; the 10M file takes about 560 MB; everything
# is deleted at the end), COMPARE_SIZES (default "1000000 10000000").
# Needs git, cmake, python3 and GNU time (/usr/bin/time).
set -euo pipefail

if (($# < 1)); then
  echo "usage: $0 BASELINE_REVISION [ROUNDS_1M [ROUNDS_10M]]" >&2
  exit 2
fi
baseline_rev="$1"
rounds_1m="${2:-5}"
rounds_10m="${3:-3}"
sizes="${COMPARE_SIZES:-1000000 10000000}"

cd "$(dirname "$0")/.."
repo="$PWD"
if [[ ! -x /usr/bin/time ]]; then
  echo "$0: GNU time (/usr/bin/time) is needed" >&2
  exit 2
fi
baseline_commit="$(git rev-parse --verify "$baseline_rev^{commit}")"

work="$(mktemp -d "${COMPARE_DIR:-/tmp}/fluxtrim-compare.XXXXXX")"
baseline_tree="$work/baseline-src"
cleanup() {
  git -C "$repo" worktree remove --force "$baseline_tree" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# ---- The two builds, both Release, without tests or benchmarks.
build() {  # source directory, build directory
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DFLUXTRIM_TESTS=OFF -DFLUXTRIM_BENCH=OFF \
    >/dev/null
  cmake --build "$2" -j2 --target fluxtrim.out >/dev/null
}
echo "building the baseline ($baseline_rev, ${baseline_commit:0:12}) and the working tree ..."
git worktree add --detach "$baseline_tree" "$baseline_commit" >/dev/null 2>&1
build "$baseline_tree" "$work/build-baseline"
build "$repo" "$repo/build-compare"
baseline_exe="$work/build-baseline/fluxtrim.out"
current_exe="$repo/build-compare/fluxtrim.out"

# Position of the generated samples (reference about 0.4834 gauss) and the tolerance.
arguments=(48.5578 3.2914 89 0.2)

# One run: prints "wall_ms peak_kb"; keeps stdout without its time line, stderr and the status.
run_once() {  # executable, csv, output prefix
  local start end status
  start="$(date +%s%N)"
  set +e
  /usr/bin/time -v -o "$3.time" "$1" "$2" "${arguments[@]}" >"$3.out" 2>"$3.err"
  status=$?
  set -e
  end="$(date +%s%N)"
  echo "$status" >"$3.status"
  grep -v '^Execution time : ' "$3.out" >"$3.report" || true
  local peak
  peak="$(sed -n 's/^\s*Maximum resident set size (kbytes): //p' "$3.time")"
  echo "$(((end - start) / 1000000)) $peak"
}

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

results="$work/results"
: >"$results"
for count in $sizes; do
  csv="$work/mag_$count.csv"
  echo "generating $count samples ..."
  python3 bench/gen_samples.py "$count" "$csv"
  rounds="$rounds_1m"
  if ((count >= 10000000)); then
    rounds="$rounds_10m"
  fi
  : >"$work/base_$count"
  : >"$work/new_$count"
  for ((round = 1; round <= rounds; ++round)); do
    # Alternate which build goes first, so that neither always meets a warm or a cold cache.
    if ((round % 2)); then
      run_once "$baseline_exe" "$csv" "$work/b" >>"$work/base_$count"
      run_once "$current_exe" "$csv" "$work/n" >>"$work/new_$count"
    else
      run_once "$current_exe" "$csv" "$work/n" >>"$work/new_$count"
      run_once "$baseline_exe" "$csv" "$work/b" >>"$work/base_$count"
    fi
    same="yes"
    for part in report err status; do
      cmp -s "$work/b.$part" "$work/n.$part" || same="NO ($part differs)"
    done
    echo "  round $round: baseline $(tail -1 "$work/base_$count") / new $(tail -1 "$work/new_$count")" \
      "(ms, peak kB); same output: $same"
    if [[ "$same" != "yes" ]]; then
      echo "$count" >>"$work/differs"
    fi
  done
  rm -f "$csv"
  for build_name in base new; do
    wall="$(cut -d' ' -f1 "$work/${build_name}_$count" | median)"
    peak="$(cut -d' ' -f2 "$work/${build_name}_$count" | median)"
    echo "$count $build_name $wall $peak" >>"$results"
  done
done

echo
printf '%-10s %-9s %14s %15s %17s %10s\n' samples build "median wall ms" "median peak MiB" "peak bytes/sample" speed-up
awk '
  { wall[$1, $2] = $3; peak[$1, $2] = $4; if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } }
  END {
    for (i = 1; i <= n; ++i) {
      c = order[i]
      printf "%-10s %-9s %14.0f %15.1f %17.1f %10s\n", c, "baseline", wall[c, "base"],
        peak[c, "base"] / 1024, peak[c, "base"] * 1024 / c, ""
      printf "%-10s %-9s %14.0f %15.1f %17.1f %9.2fx\n", c, "new", wall[c, "new"],
        peak[c, "new"] / 1024, peak[c, "new"] * 1024 / c, wall[c, "base"] / wall[c, "new"]
    }
  }' "$results"
if [[ -s "$work/differs" ]]; then
  echo "the two builds printed different results for: $(sort -u "$work/differs" | tr '\n' ' ')"
  exit 1
fi
echo "both builds printed the same reports (time line aside), messages and status"
