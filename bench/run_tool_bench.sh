#!/usr/bin/env bash
# Times the whole tool on generated sample files of 10,000 and 1,000,000 lines (wall time and peak
# resident memory from /usr/bin/time -v), then splits a run into reading and calibrating with the
# benchmark programs: bench_reader (FERROKIT::readMagnetometerMeasures) and bench_calibration
# (FERROKIT::magCalibration and the core entry point alone).
#
# Usage: bench/run_tool_bench.sh [build directory, default build-bench]
# Needs python3, /usr/bin/time and Google Benchmark (libbenchmark-dev).
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build-bench}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DFLUXTRIM_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target fluxtrim.out bench_reader bench_calibration >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Position of the generated samples (the reference field there is about 0.4834 gauss).
position=(48.5578 3.2914 89 0.2)

# Wall time from the shell's clock (GNU time truncates its own to centiseconds), peak resident
# memory from /usr/bin/time -v, and the tool's own measurement (reading and calibrating only).
printf '%-10s %12s %15s %16s\n' samples "wall (ms)" "peak RSS (MB)" "tool's own (ms)"
for count in 10000 1000000; do
  csv="$work/mag_$count.csv"
  python3 bench/gen_samples.py "$count" "$csv"
  start_ns="$(date +%s%N)"
  /usr/bin/time -v "$build/fluxtrim.out" "$csv" "${position[@]}" >"$work/out" 2>"$work/time"
  end_ns="$(date +%s%N)"
  rss_kb="$(sed -n 's/^\s*Maximum resident set size (kbytes): //p' "$work/time")"
  own_us="$(sed -n 's/^Execution time : \([0-9]*\) us.*/\1/p' "$work/out")"
  awk -v n="$count" -v wall="$(((end_ns - start_ns) / 1000))" -v rss="$rss_kb" -v own="$own_us" \
    'BEGIN { printf "%-10s %12.1f %15.1f %16.1f\n", n, wall / 1000, rss / 1024, own / 1000 }'
done

echo
echo "Reading (bench_reader) and calibrating (bench_calibration), milliseconds per run:"
"$build/bench/bench_reader" --benchmark_filter='BM_ReadMagnetometerMeasures/(10000|1000000)$'
"$build/bench/bench_calibration"
