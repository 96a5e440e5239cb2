// Throughput of FERROKIT::readMagnetometerMeasures on generated sample files of 10,000 and
// 1,000,000 data lines (a header line first, three numbers of 15 significant digits per line, as a
// logger writes them). Reports rows per second and megabytes (10^6 bytes) per second.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <streambuf>
#include <string>

#include <benchmark/benchmark.h>

#include "sample_files.h"

#include "FERROKIT.hpp"

namespace {

namespace fs = std::filesystem;

using bench_files::NullBuffer;
using bench_files::sampleFiles;

// One fresh tool object per iteration, as in one run of the tool.
void BM_ReadMagnetometerMeasures(benchmark::State& state) {
  const long dataLines = state.range(0);
  const std::string& path = sampleFiles().path(dataLines);
  const double bytes = static_cast<double>(fs::file_size(path));
  const double lines = static_cast<double>(dataLines + 1);

  NullBuffer discard;
  std::streambuf* const previous = std::cerr.rdbuf(&discard);
  for (auto _ : state) {
    FERROKIT kit;
    benchmark::DoNotOptimize(kit.readMagnetometerMeasures(path));
    benchmark::DoNotOptimize(kit.getMagnetometerMeasures()[2].back());
  }
  std::cerr.rdbuf(previous);

  // Shown as rows=...M/s and bytes=...M/s: rows and megabytes (10^6 bytes) per second.
  const double iterations = static_cast<double>(state.iterations());
  state.counters["rows"] = benchmark::Counter(lines * iterations, benchmark::Counter::kIsRate,
                                              benchmark::Counter::OneK::kIs1000);
  state.counters["bytes"] = benchmark::Counter(bytes * iterations, benchmark::Counter::kIsRate,
                                               benchmark::Counter::OneK::kIs1000);
}
BENCHMARK(BM_ReadMagnetometerMeasures)
    ->Arg(10000)
    ->Arg(1000000)

    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
