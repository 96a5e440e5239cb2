#!/usr/bin/env bash
# Times `fluxtrim calibrate FILE --format json` (automatic mode) against bench/numpy_fit.py, the
# usual numpy ellipsoid fit (loadtxt and a 9-parameter least-squares fit), on generated recordings
# of 10,000, 1,000,000 and 10,000,000 samples, at one and at two threads. Every entrant runs once
# per round, in an order that rotates from round to round; the table gives the median wall time,
# the median peak resident memory (/usr/bin/time -f %M), the peak bytes per sample and the time
# against the numpy script's.
#
# Usage: bench/compare_numpy.sh [LABEL=FLUXTRIM_EXECUTABLE ...]
#   Default: now=build/fluxtrim. Several executables (say before=build-before/fluxtrim) are timed
#   side by side in the same rounds.
# Environment:
#   BENCH_SIZES    sample counts (default "10000 1000000 10000000")
#   BENCH_THREADS  thread counts (default "1 2"): FLUXTRIM_THREADS for fluxtrim,
#                  OPENBLAS_NUM_THREADS and OMP_NUM_THREADS for numpy
#   BENCH_ROUNDS   rounds per size and thread count (default 5; 3 from 10,000,000 samples on)
#   BENCH_CACHE    where the generated recordings are kept and reused (default build/bench-samples;
#                  the 10,000,000-sample file takes about 560 MB and a few minutes to write)
# Needs /usr/bin/python3 with numpy and GNU time (/usr/bin/time).
set -euo pipefail

cd "$(dirname "$0")/.."
python=/usr/bin/python3
sizes="${BENCH_SIZES:-10000 1000000 10000000}"
thread_counts="${BENCH_THREADS:-1 2}"
cache="${BENCH_CACHE:-build/bench-samples}"

if [[ ! -x /usr/bin/time ]]; then
  echo "$0: GNU time (/usr/bin/time) is needed" >&2
  exit 2
fi
labels=()
commands=()
for entrant in "${@:-now=build/fluxtrim}"; do
  if [[ "$entrant" != *=* || ! -x "${entrant#*=}" ]]; then
    echo "$0: $entrant: expected LABEL=EXECUTABLE" >&2
    exit 2
  fi
  labels+=("${entrant%%=*}")
  commands+=("${entrant#*=}")
done
labels+=(numpy)

mkdir -p "$cache"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# One run of entrant number $1 on file $2 with $3 threads: prints "wall_ms peak_kB status".
run_once() {
  local index="$1" csv="$2" threads="$3" start end status=0
  start="$(date +%s%N)"
  if ((index < ${#commands[@]})); then
    FLUXTRIM_THREADS="$threads" /usr/bin/time -f %M -o "$work/peak" \
      "${commands[index]}" calibrate "$csv" --format json >"$work/out" 2>"$work/err" || status=$?
  else
    OPENBLAS_NUM_THREADS="$threads" OMP_NUM_THREADS="$threads" /usr/bin/time -f %M -o "$work/peak" \
      "$python" bench/numpy_fit.py "$csv" >"$work/out" 2>"$work/err" || status=$?
  fi
  end="$(date +%s%N)"
  echo "$(((end - start) / 1000000)) $(tail -1 "$work/peak") $status"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

results="$work/results"
: >"$results"
for count in $sizes; do
  csv="$cache/mag_$count.csv"
  if [[ ! -s "$csv" ]]; then
    echo "generating $count samples into $csv ..."
    "$python" bench/gen_samples.py "$count" "$csv.partial"
    mv "$csv.partial" "$csv"
  fi
  rounds="${BENCH_ROUNDS:-$((count >= 10000000 ? 3 : 5))}"
  for threads in $thread_counts; do
    for ((round = 0; round < rounds; ++round)); do
      line="  $count samples, $threads thread(s), round $((round + 1)):"
      for ((k = 0; k < ${#labels[@]}; ++k)); do
        index=$(((k + round) % ${#labels[@]}))
        read -r wall peak status < <(run_once "$index" "$csv" "$threads")
        # Exit status 1 is a calibration whose verdict is fail: timed all the same.
        if ((status > 1)); then
          echo "$0: ${labels[index]} failed on $csv (status $status):" >&2
          cat "$work/err" >&2
          exit 1
        fi
        echo "$count $threads ${labels[index]} $wall $peak" >>"$results"
        line+=" ${labels[index]} ${wall} ms ${peak} kB;"
      done
      echo "$line"
    done
  done
done

echo
printf '%-10s %-7s %-8s %9s %10s %12s %9s\n' samples threads entrant "wall ms" "peak MiB" \
  "bytes/sample" "x numpy"
for count in $sizes; do
  for threads in $thread_counts; do
    numpy_wall="$(awk -v c="$count" -v t="$threads" '$1 == c && $2 == t && $3 == "numpy" { print $4 }' "$results" | median)"
    for label in "${labels[@]}"; do
      wall="$(awk -v c="$count" -v t="$threads" -v l="$label" '$1 == c && $2 == t && $3 == l { print $4 }' "$results" | median)"
      peak="$(awk -v c="$count" -v t="$threads" -v l="$label" '$1 == c && $2 == t && $3 == l { print $5 }' "$results" | median)"
      awk -v c="$count" -v t="$threads" -v l="$label" -v w="$wall" -v p="$peak" -v nw="$numpy_wall" \
        'BEGIN { printf "%-10s %-7s %-8s %9.0f %10.1f %12.1f %9.2f\n", c, t, l, w, p / 1024, p * 1024 / c, w / nw }'
    done
  done
done
