// Time of the library's automatic calibration on 10,000 and 1,000,000 samples, split into its
// two halves: the fit (windows, the core's fits, the refinement) and the diagnostics (coverage,
// gap, motion, residuals, checks); and of the report drawn from it. The fixed-window calibration
// of fluxtrim.out's core on the same samples is the reference point. Run with
// --benchmark_enable_random_interleaving=true and repetitions so that the variants alternate.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "coder_array.h"
#include "fluxtrim/fluxtrim.hpp"
#include "lib/diagnose.hpp"
#include "lib/fitStage.hpp"
#include "staticMagCalibration.h"

namespace {

const double kField_G = 0.4834;

// Raw samples in gauss of a sensor turned in every direction, with hard and soft iron, noise of
// 2 mG and one sample in a thousand disturbed by a tenth of the field.
fluxtrim::SampleSet generateSamples(long count) {
  const double offset[3] = {0.06, -0.04, 0.09};
  const double soft[3][3] = {{1.05, 0.03, -0.02}, {0.03, 0.98, 0.01}, {-0.02, 0.01, 0.95}};
  std::mt19937_64 random(777);
  std::normal_distribution<double> gauss(0.0, 1.0);
  fluxtrim::SampleSet set;
  set.values.reserve(static_cast<std::size_t>(count));
  for (long k = 0; k < count; ++k) {
    double u[3] = {gauss(random), gauss(random), gauss(random)};
    const double norm = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    fluxtrim::Vec3 raw;
    for (int i = 0; i < 3; ++i) {
      raw[i] = offset[i] + 0.002 * gauss(random);
      for (int j = 0; j < 3; ++j) {
        raw[i] += soft[i][j] * kField_G * u[j] / norm;
      }
    }
    if (k % 1000 == 999) {
      raw[0] += 0.1 * kField_G;
    }
    set.values.push_back(raw);
  }
  return set;
}

fluxtrim::CalibrationOptions automaticOptions() {
  fluxtrim::CalibrationOptions options;
  options.reference = fluxtrim::Reference::fromStrength(kField_G);
  return options;
}

void setRate(benchmark::State& state, long n) {
  state.counters["samples"] =
      benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate, benchmark::Counter::OneK::kIs1000);
}

// The whole automatic calibration: fit and diagnostics.
void BM_Automatic(benchmark::State& state) {
  const fluxtrim::SampleSet samples = generateSamples(state.range(0));
  const fluxtrim::CalibrationOptions options = automaticOptions();
  for (auto _ : state) {
    fluxtrim::CalibrationResult result = fluxtrim::calibrate(samples, options);
    benchmark::DoNotOptimize(result.calibration.offset[0]);
  }
  setRate(state, state.range(0));
}
BENCHMARK(BM_Automatic)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The fit alone: windows, two calls of the core's three fits, the refinement.
void BM_AutomaticFitOnly(benchmark::State& state) {
  const fluxtrim::SampleSet samples = generateSamples(state.range(0));
  const fluxtrim::CalibrationOptions options = automaticOptions();
  for (auto _ : state) {
    fluxtrim::detail::FitStage stage = fluxtrim::detail::fitSamples(samples, options);
    benchmark::DoNotOptimize(stage.models[0].radius);
  }
  setRate(state, state.range(0));
}
BENCHMARK(BM_AutomaticFitOnly)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The diagnostics alone, on the outcome of one fit (its copy is part of the time, and small).
void BM_DiagnosticsOnly(benchmark::State& state) {
  const fluxtrim::SampleSet samples = generateSamples(state.range(0));
  const fluxtrim::CalibrationOptions options = automaticOptions();
  const fluxtrim::detail::FitStage stage = fluxtrim::detail::fitSamples(samples, options);
  for (auto _ : state) {
    fluxtrim::CalibrationResult result = fluxtrim::detail::diagnose(samples, options, stage);
    benchmark::DoNotOptimize(result.coverage.fraction);
  }
  setRate(state, state.range(0));
}
BENCHMARK(BM_DiagnosticsOnly)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The HTML report of the automatic calibration, which should cost a small part of the calibration
// itself: the histograms count every sample, on two threads where there are two.
void BM_Report(benchmark::State& state) {
  const fluxtrim::SampleSet samples = generateSamples(state.range(0));
  const fluxtrim::CalibrationOptions options = automaticOptions();
  const fluxtrim::CalibrationResult result = fluxtrim::calibrate(samples, options);
  for (auto _ : state) {
    std::string page = fluxtrim::reportHtml(samples, options, result);
    benchmark::DoNotOptimize(page.data());
  }
  setRate(state, state.range(0));
}
BENCHMARK(BM_Report)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// fluxtrim.out's computation on the same samples: the core's window at 0.2 and one fit.
void BM_CoreFixedWindow(benchmark::State& state) {
  const fluxtrim::SampleSet samples = generateSamples(state.range(0));
  const int n = static_cast<int>(samples.values.size());
  coder::array<double, 2> matrix;
  matrix.set_size(n, 3);
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) {
      matrix[i + n * c] = samples.values[static_cast<std::size_t>(i)][c];
    }
  }
  const double reference[3] = {kField_G, 0.0, 0.0};
  double offset[3];
  double softIron[9];
  double mean;
  for (auto _ : state) {
    staticMagCalibration(matrix, reference, 0.2, offset, softIron, &mean);
    benchmark::DoNotOptimize(mean);
  }
  setRate(state, state.range(0));
}
BENCHMARK(BM_CoreFixedWindow)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
