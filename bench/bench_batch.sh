#!/usr/bin/env bash
# Times `fluxtrim calibrate` on a batch of 100 generated recordings of 10,000 samples each, at
# --jobs 1 and --jobs 2, alternating the two in every round so that both see the same machine
# load; prints each round's wall time and the median of each.
#
# Usage: bench/bench_batch.sh [build directory, default build] [rounds, default 5]
# Needs python3. The recordings are written to a temporary directory under /tmp and removed.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
rounds="${2:-5}"
cmake --build "$build" -j2 --target fluxtrim_cli >/dev/null

work="$(mktemp -d /tmp/fluxtrim_batch.XXXXXX)"
trap 'rm -rf "$work"' EXIT
python3 bench/gen_samples.py 10000 "$work/mag_000.csv"
for i in $(seq 1 99); do cp "$work/mag_000.csv" "$(printf '%s/mag_%03d.csv' "$work" "$i")"; done
files=("$work"/mag_*.csv)

# Wall time of one batch in milliseconds; every recording must be calibrated (exit status 0).
batch_ms() {
  local start end
  start="$(date +%s%N)"
  "$build/fluxtrim" calibrate "${files[@]}" --lat 48.5578 --lon 3.2914 --alt 89 \
    --date 2026-01-01 --format json --jobs "$1" >"$work/out.jsonl"
  end="$(date +%s%N)"
  [ "$(wc -l <"$work/out.jsonl")" -eq "${#files[@]}" ]
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "${#files[@]} recordings of 10000 samples, $(nproc) processors"
printf '%-6s %14s %14s\n' round "jobs 1 (ms)" "jobs 2 (ms)"
one=()
two=()
for round in $(seq 1 "$rounds"); do
  if [ $((round % 2)) -eq 1 ]; then
    a="$(batch_ms 1)"; b="$(batch_ms 2)"
  else
    b="$(batch_ms 2)"; a="$(batch_ms 1)"
  fi
  one+=("$a")
  two+=("$b")
  printf '%-6s %14s %14s\n' "$round" "$a" "$b"
done
m1="$(printf '%s\n' "${one[@]}" | median)"
m2="$(printf '%s\n' "${two[@]}" | median)"
printf '%-6s %14s %14s\n' median "$m1" "$m2"
awk -v a="$m1" -v b="$m2" 'BEGIN { printf "speed-up of --jobs 2: %.2f\n", a / b }'
