// Time of the calibration on 10,000 and 1,000,000 samples: the core entry point alone
// (staticMagCalibration on an N-by-3 array already in memory; BM_StaticMagCalibrationThreads
// with the core held to one thread and allowed two), and the tool object's whole calibration step
// (FERROKIT::magCalibration: reference field, packing of the samples, core, result record) on
// samples already read. Reading the file is measured by bench_reader.
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <streambuf>
#include <string>

#include <benchmark/benchmark.h>

#include "FERROKIT.hpp"
#include "coder_array.h"
#include "coreThreads.h"
#include "staticMagCalibration.h"

namespace {

namespace fs = std::filesystem;

// Latitude, longitude (degrees) and height (metres) of the samples; reference about 0.4834 gauss.
const double kLatitude = 48.5578;
const double kLongitude = 3.2914;
const double kHeight = 89.0;
const double kTolerance = 0.2;

// Raw samples in gauss of a sensor turned in every direction, with hard and soft iron and noise.
// Calls sink(x, y, z) once per sample.
template <typename Sink>
void generateSamples(long count, Sink sink) {
  const double field = 0.4834;
  const double offset[3] = {0.06, -0.04, 0.09};
  const double soft[3][3] = {{1.05, 0.03, -0.02}, {0.03, 0.98, 0.01}, {-0.02, 0.01, 0.95}};
  std::mt19937_64 random(777);
  std::normal_distribution<double> gauss(0.0, 1.0);
  for (long k = 0; k < count; ++k) {
    double u[3] = {gauss(random), gauss(random), gauss(random)};
    const double norm = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    double raw[3];
    for (int i = 0; i < 3; ++i) {
      raw[i] = offset[i] + 0.002 * gauss(random);
      for (int j = 0; j < 3; ++j) {
        raw[i] += soft[i][j] * field * u[j] / norm;
      }
    }
    sink(raw[0], raw[1], raw[2]);
  }
}

// threads > 0 holds the core to that many threads (1 or 2); 0 lets the machine decide.
void runStaticMagCalibration(benchmark::State& state, int threads) {
  const int n = static_cast<int>(state.range(0));
  coder::internal::setCoreThreads(threads, 0);
  coder::array<double, 2> samples;
  samples.set_size(n, 3);
  int row = 0;
  generateSamples(n, [&](double x, double y, double z) {
    samples[row] = x;
    samples[row + n] = y;
    samples[row + 2 * n] = z;
    ++row;
  });
  const double reference[3] = {0.210485, 0.007476, 0.435086};  // gauss, north-east-down
  double offset[3];
  double matrix[9];
  double meanNorm;
  for (auto _ : state) {
    staticMagCalibration(samples, reference, kTolerance, offset, matrix, &meanNorm);
    benchmark::DoNotOptimize(meanNorm);
  }
  coder::internal::setCoreThreads(0, 0);
  state.counters["samples"] =
      benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate, benchmark::Counter::OneK::kIs1000);
}
void BM_StaticMagCalibration(benchmark::State& state) {
  runStaticMagCalibration(state, 0);
}
BENCHMARK(BM_StaticMagCalibration)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
void BM_StaticMagCalibrationThreads(benchmark::State& state) {
  runStaticMagCalibration(state, static_cast<int>(state.range(1)));
}
BENCHMARK(BM_StaticMagCalibrationThreads)
    ->Args({1000000, 1})
    ->Args({1000000, 2})
    ->Unit(benchmark::kMillisecond);

// A stream buffer that drops everything: the header cells' messages are not what is measured.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void BM_FerrokitMagCalibration(benchmark::State& state) {
  const long n = state.range(0);
  std::string pattern = (fs::temp_directory_path() / "fluxtrim_calbench_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  const fs::path dir = pattern;
  const std::string path = (dir / "mag.csv").string();
  {
    std::ofstream out(path, std::ios::binary);
    out << "CAP_magX,CAP_magY,CAP_magZ\n";
    char line[96];
    generateSamples(n, [&](double x, double y, double z) {
      const int length = std::snprintf(line, sizeof line, "%.15g,%.15g,%.15g\n", x, y, z);
      out.write(line, length);
    });
  }
  FERROKIT kit;
  NullBuffer discard;
  std::streambuf* const previous = std::cerr.rdbuf(&discard);
  kit.readMagnetometerMeasures(path);
  std::cerr.rdbuf(previous);
  std::error_code ignored;
  fs::remove_all(dir, ignored);

  for (auto _ : state) {
    kit.magCalibration(kLatitude, kLongitude, kHeight, kTolerance);
    benchmark::DoNotOptimize(kit.getMagCalibResult().magNormRef);
  }
  state.counters["samples"] =
      benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate, benchmark::Counter::OneK::kIs1000);
}
BENCHMARK(BM_FerrokitMagCalibration)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
