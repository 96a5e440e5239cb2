// Time of the automatic mode's three candidate fits on 1,000,000 samples already in memory, at one
// and two threads: the core's fits on a copy of the kept rows (coreMagcalFits, as the fixed
// window runs them) against the streamed design of every sample and its fits (StreamedDesign).
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "coreThreads.h"
#include "fluxtrim/samples.hpp"
#include "lib/streamingFit.hpp"
#include "sample_files.h"

namespace {

struct Kept {
  std::vector<fluxtrim::Vec3> values;
  std::vector<std::size_t> rows;
};

const Kept& kept(long count) {
  static Kept samples = [count] {
    Kept k;
    k.values = fluxtrim::readSamples(bench_files::sampleFiles().path(count)).values;
    for (std::size_t i = 0; i < k.values.size(); ++i) {
      k.rows.push_back(i);
    }
    return k;
  }();
  return samples;
}

template <bool Streamed>
void fits(benchmark::State& state) {
  const Kept& samples = kept(state.range(0));
  coder::internal::setCoreThreads(static_cast<int>(state.range(1)), 0);
  coder::MagcalFits result;
  for (auto _ : state) {
    if (Streamed) {
      const fluxtrim::detail::StreamedDesign design(samples.values,
                                                    [](std::size_t) { return true; });
      design.fits(result);
    } else {
      fluxtrim::detail::coreMagcalFits(samples.values, samples.rows, result);
    }
    benchmark::DoNotOptimize(result.chosen);
  }
  coder::internal::setCoreThreads(0, 0);
}

void BM_CoreFits(benchmark::State& state) {
  fits<false>(state);
}
void BM_StreamedFits(benchmark::State& state) {
  fits<true>(state);
}

BENCHMARK(BM_CoreFits)
    ->ArgsProduct({{1000000}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_StreamedFits)
    ->ArgsProduct({{1000000}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
