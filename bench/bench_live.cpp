// The live loop of fluxtrim watch on a simulated clock: lines of a tumble pushed one at a time
// with their time, the session updated after each (a live fit at most four times a second of
// input), as the command does with a serial port.
// - BM_LiveLoop: input at 1000 samples a second; "samples" is how many samples a second of
//   processor time the loop takes, so that 1000 / samples is the share of one core it needs.
// - BM_LiveHour: one hour at 100 samples a second, once; the heap the session holds at the end
//   (heap_MB, and per sample), its live fit's sample count, and the processor time per hour.
// The calibration core runs on one thread here (FLUXTRIM_THREADS=1 unless set otherwise).
#include <malloc.h>
#include <stdlib.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "fluxtrim/live.hpp"
#include "fluxtrim/text.hpp"

namespace {

// count lines "x,y,z" in gauss of a device turned slowly through every direction, with hard and
// soft iron and 2 mG of noise.
std::vector<std::string> tumbleLines(std::size_t count) {
  std::mt19937_64 random(42);
  std::normal_distribution<double> noise(0.0, 0.002);
  const double offset[3] = {0.06, -0.04, 0.09};
  const double gain[3] = {1.03, 0.98, 0.99};
  std::vector<std::string> lines;
  lines.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    // One sweep of the sphere every 40 seconds at 100 Hz.
    const double z = std::cos(3.141592653589793 * static_cast<double>(k % 4000) / 4000.0);
    const double longitude = 0.07 * static_cast<double>(k);
    const double r = std::sqrt(std::max(0.0, 1.0 - z * z));
    const double u[3] = {r * std::cos(longitude), r * std::sin(longitude), z};
    double v[3];
    for (int i = 0; i < 3; ++i) v[i] = offset[i] + 0.48 * gain[i] * u[i] + noise(random);
    lines.push_back(fluxtrim::formatText("%.6f,%.6f,%.6f\n", v[0], v[1], v[2]));
  }
  return lines;
}

// Bytes allocated and in use: in the heap's arenas and in mapped blocks (large vectors).
std::size_t heapBytes() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Runs the lines through a session at rate_Hz on a simulated clock.
void replay(fluxtrim::LiveSession& session, const std::vector<std::string>& lines, double rate_Hz) {
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const double now = static_cast<double>(k) / rate_Hz;
    session.push(lines[k].data(), lines[k].size(), now);
    session.update(now);
  }
}

fluxtrim::LiveOptions neverStopping() {
  fluxtrim::LiveOptions options;
  options.until.kind = fluxtrim::StopRule::Kind::Never;
  options.calibration.reference = fluxtrim::Reference::fromStrength(0.48);
  return options;
}

void BM_LiveLoop(benchmark::State& state) {
  const std::vector<std::string> lines = tumbleLines(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    fluxtrim::LiveSession session(neverStopping(), "bench");
    replay(session, lines, 1000.0);
    benchmark::DoNotOptimize(session.fit().result.calibration);
  }
  state.counters["samples"] = benchmark::Counter(
      static_cast<double>(state.range(0)) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LiveLoop)->Arg(60000)->Unit(benchmark::kMillisecond);

void BM_LiveHour(benchmark::State& state) {
  const double rate_Hz = 100.0;
  const std::vector<std::string> lines = tumbleLines(360000);
  for (auto _ : state) {
    const std::size_t before = heapBytes();
    fluxtrim::LiveSession session(neverStopping(), "bench");
    replay(session, lines, rate_Hz);
    const double held = static_cast<double>(heapBytes() - before);
    state.counters["heap_MB"] = held / 1e6;
    state.counters["heap_bytes_per_sample"] = held / static_cast<double>(lines.size());
    state.counters["live_fit_samples"] = static_cast<double>(session.fit().samples);
    state.counters["coverage_pct"] = 100.0 * session.fit().result.coverage.fraction;
  }
}
BENCHMARK(BM_LiveHour)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("FLUXTRIM_THREADS", "1", 0);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
