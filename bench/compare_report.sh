#!/usr/bin/env bash
# What --report adds to `fluxtrim calibrate FILE --format json`: each build given times the
# calibration alone and with the report, in rounds whose order rotates; the table gives the median
# wall and processor times (user and system, from GNU time, which a loaded machine disturbs less)
# and the report's cost in each as a share of the calibration's.
#
# Usage: bench/compare_report.sh FILE [LABEL=FLUXTRIM_EXECUTABLE ...]   (default now=build/fluxtrim)
# Environment: BENCH_ROUNDS (default 7), FLUXTRIM_THREADS as for the command.
set -euo pipefail

if [[ ! -x /usr/bin/time ]]; then
  echo "$0: GNU time (/usr/bin/time) is needed" >&2
  exit 2
fi

cd "$(dirname "$0")/.."
file="${1:?usage: bench/compare_report.sh FILE [LABEL=EXECUTABLE ...]}"
shift
rounds="${BENCH_ROUNDS:-7}"
entrants=("${@:-now=build/fluxtrim}")
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

runs=()
for entrant in "${entrants[@]}"; do
  runs+=("$entrant plain" "$entrant report")
done
: >"$work/results"
for ((round = 0; round < rounds; ++round)); do
  for ((k = 0; k < ${#runs[@]}; ++k)); do
    read -r entrant kind <<<"${runs[(k + round) % ${#runs[@]}]}"
    extra=()
    [[ "$kind" == report ]] && extra=(--report "$work/report.html")
    start="$(date +%s%N)"
    status=0
    /usr/bin/time -f "%U %S" -o "$work/time" \
      "${entrant#*=}" calibrate "$file" --format json "${extra[@]}" >/dev/null 2>&1 || status=$?
    end="$(date +%s%N)"
    if ((status > 1)); then
      echo "$0: ${entrant%%=*} failed on $file (status $status)" >&2
      exit 1
    fi
    cpu="$(tail -1 "$work/time" | awk '{ printf "%.0f", ($1 + $2) * 1000 }')"
    echo "${entrant%%=*} $kind $(((end - start) / 1000000)) $cpu" >>"$work/results"
  done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
printf '%-8s %9s %10s %6s %9s %10s %6s\n' entrant "wall ms" "+report" cost "cpu ms" "+report" cost
for entrant in "${entrants[@]}"; do
  label="${entrant%%=*}"
  row=()
  for column in 3 4; do
    for kind in plain report; do
      row+=("$(awk -v l="$label" -v k="$kind" -v c="$column" '$1 == l && $2 == k { print $c }' \
        "$work/results" | median)")
    done
  done
  awk -v l="$label" -v p="${row[0]}" -v r="${row[1]}" -v cp="${row[2]}" -v cr="${row[3]}" \
    'BEGIN { printf "%-8s %9.0f %10.0f %6.2f %9.0f %10.0f %6.2f\n", l, p, r, (r - p) / p, cp, cr, (cr - cp) / cp }'
done
