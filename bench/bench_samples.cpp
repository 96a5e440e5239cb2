// Throughput of fluxtrim::readSamples on generated sample files of 1,000,000 and 10,000,000 data
// lines (a header line first, three numbers of 15 significant digits per line, as a logger writes
// them), from a path and from a stream, beside two references on the same file:
// - FERROKIT::readMagnetometerMeasures, the reader of fluxtrim.out (1,000,000 lines only);
// - a floor that only splits lines and cells and converts the three cells with
//   numparse::toDouble, with no checks and no result, showing the share of the conversion.
// Reports rows and megabytes (10^6 bytes) per second, and the bytes per sample held by the
// result. Compare them in one run, interleaved:
//   bench_samples --benchmark_enable_random_interleaving=true --benchmark_repetitions=3
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <streambuf>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "sample_files.h"

#include "FERROKIT.hpp"
#include "fluxtrim/samples.hpp"
#include "numparse.hpp"

namespace {

namespace fs = std::filesystem;

using bench_files::NullBuffer;
using bench_files::sampleFiles;

void setRates(benchmark::State& state, double lines, double bytes) {
  const double iterations = static_cast<double>(state.iterations());
  state.counters["rows"] = benchmark::Counter(lines * iterations, benchmark::Counter::kIsRate,
                                              benchmark::Counter::OneK::kIs1000);
  state.counters["bytes"] = benchmark::Counter(bytes * iterations, benchmark::Counter::kIsRate,
                                               benchmark::Counter::OneK::kIs1000);
}

// Bytes per sample held by the result's two vectors.
double heldBytesPerSample(const fluxtrim::SampleSet& set) {
  const double held = static_cast<double>(set.values.capacity() * sizeof(fluxtrim::Vec3) +
                                          set.lineNumbers.capacity() * sizeof(std::uint64_t));
  return held / static_cast<double>(set.values.size());
}

void BM_ReadSamplesPath(benchmark::State& state) {
  const std::string& path = sampleFiles().path(state.range(0));
  double perSample = 0.0;
  for (auto _ : state) {
    const fluxtrim::SampleSet set = fluxtrim::readSamples(path);
    perSample = heldBytesPerSample(set);
    benchmark::DoNotOptimize(set.values.back());
  }
  setRates(state, static_cast<double>(state.range(0) + 1),
           static_cast<double>(fs::file_size(path)));
  state.counters["held_bytes_per_sample"] = perSample;
}
BENCHMARK(BM_ReadSamplesPath)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond);

// A stream: size unknown to the reader, so the samples go through its blocks.
void BM_ReadSamplesStream(benchmark::State& state) {
  const std::string& path = sampleFiles().path(state.range(0));
  double perSample = 0.0;
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    const fluxtrim::SampleSet set = fluxtrim::readSamples(in);
    perSample = heldBytesPerSample(set);
    benchmark::DoNotOptimize(set.values.back());
  }
  setRates(state, static_cast<double>(state.range(0) + 1),
           static_cast<double>(fs::file_size(path)));
  state.counters["held_bytes_per_sample"] = perSample;
}
BENCHMARK(BM_ReadSamplesStream)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The reader of fluxtrim.out: one fresh tool object per iteration, as in one run of the tool.
void BM_FerrokitReader(benchmark::State& state) {
  const std::string& path = sampleFiles().path(state.range(0));
  NullBuffer discard;
  std::streambuf* const previous = std::cerr.rdbuf(&discard);
  for (auto _ : state) {
    FERROKIT kit;
    benchmark::DoNotOptimize(kit.readMagnetometerMeasures(path));
    benchmark::DoNotOptimize(kit.getMagnetometerMeasures()[2].back());
  }
  std::cerr.rdbuf(previous);
  setRates(state, static_cast<double>(state.range(0) + 1),
           static_cast<double>(fs::file_size(path)));
}
BENCHMARK(BM_FerrokitReader)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The floor: the whole file in memory, lines and cells split at ',' and three conversions per
// line, their sum kept.
void BM_ConversionFloor(benchmark::State& state) {
  const std::string& path = sampleFiles().path(state.range(0));
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (auto _ : state) {
    double sum = 0.0;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
      const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', end - p));
      lineEnd = lineEnd != nullptr ? lineEnd : end;
      for (int cell = 0; cell < 3 && p < lineEnd; ++cell) {
        const char* cellEnd = static_cast<const char*>(std::memchr(p, ',', lineEnd - p));
        cellEnd = cellEnd != nullptr ? cellEnd : lineEnd;
        double value = 0.0;
        numparse::toDouble(p, cellEnd, value);
        sum += value;
        p = cellEnd + 1;
      }
      p = lineEnd == end ? end : lineEnd + 1;
    }
    benchmark::DoNotOptimize(sum);
  }
  setRates(state, static_cast<double>(state.range(0) + 1), static_cast<double>(text.size()));
}
BENCHMARK(BM_ConversionFloor)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
