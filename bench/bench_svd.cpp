// Cost of the singular value decompositions of the ellipsoid fits (n-by-7 and n-by-10 design
// matrices of noisy samples on an ellipsoid, in gauss) at 1,000, 100,000 and 1,000,000 rows.
// BM_Svd7 and BM_Svd10 run the full decomposition (left factor included) on a const input, which
// it copies; BM_Svd7RightOnly and BM_Svd10RightOnly run it as the fits do: the design matrix
// copied into a working buffer (standing for building it there), then decomposed in place
// without the left factor, on one thread and on two. Reports the time per decomposition, rows per
// second, the peak heap that one decomposition allocates on top of its input (every operator new
// of the process is counted) and the peak resident set size of the whole process so far. Linear
// cost shows as a constant rows-per-second rate and a peak heap proportional to the rows.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <map>
#include <new>
#include <random>
#include <utility>

#include <benchmark/benchmark.h>

#include "coder_array.h"
#include "coreThreads.h"
#include "svd.h"
#include "xzsvdc.h"

namespace {

// Heap accounting: each block carries its size in a header in front of the user's bytes.
std::atomic<std::size_t> gLiveBytes{0};
std::atomic<std::size_t> gPeakBytes{0};
const std::size_t kHeader = alignof(std::max_align_t);

void* countedAllocate(std::size_t size) {
  void* block = std::malloc(size + kHeader);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  *static_cast<std::size_t*>(block) = size;
  const std::size_t live = gLiveBytes.fetch_add(size) + size;
  std::size_t peak = gPeakBytes.load();
  while (live > peak && !gPeakBytes.compare_exchange_weak(peak, live)) {
  }
  return static_cast<char*>(block) + kHeader;
}

void countedRelease(void* pointer) {
  if (pointer == nullptr) {
    return;
  }
  void* block = static_cast<char*>(pointer) - kHeader;
  gLiveBytes.fetch_sub(*static_cast<std::size_t*>(block));
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) {
  return countedAllocate(size);
}
void* operator new[](std::size_t size) {
  return countedAllocate(size);
}
void operator delete(void* pointer) noexcept {
  countedRelease(pointer);
}
void operator delete[](void* pointer) noexcept {
  countedRelease(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
  countedRelease(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
  countedRelease(pointer);
}

namespace {

typedef int (*SvdFunction)(const coder::array<double, 2>&, coder::array<double, 2>&, double*,
                           double*, int*);

// Design matrix with p = 7 (axis-aligned) or p = 10 (general) terms of n samples, built once per
// shape and kept for the whole run.
const coder::array<double, 2>& designMatrix(int n, int p) {
  static std::map<std::pair<int, int>, coder::array<double, 2>> cache;
  coder::array<double, 2>& D = cache[{n, p}];
  if (D.numel() == 0) {
    std::mt19937_64 rng(2024);
    std::normal_distribution<double> normal;
    D.set_size(n, p);
    for (int i = 0; i < n; ++i) {
      const double d[3] = {normal(rng), normal(rng), normal(rng)};
      const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      const double x = 0.05 + 0.45 * d[0] / len + 1e-3 * normal(rng);
      const double y = -0.1 + 0.50 * d[1] / len + 1e-3 * normal(rng);
      const double z = 0.2 + 0.40 * d[2] / len + 1e-3 * normal(rng);
      const double terms7[7] = {x * x, y * y, z * z, x, y, z, 1.0};
      const double terms10[10] = {x * x, 2 * x * y, 2 * x * z, y * y, 2 * y * z,
                                  z * z, x,         y,         z,     1.0};
      for (int j = 0; j < p; ++j) {
        D[i + n * j] = (p == 7) ? terms7[j] : terms10[j];
      }
    }
  }
  return D;
}

void runDecomposition(benchmark::State& state, SvdFunction decompose, int p) {
  const int n = static_cast<int>(state.range(0));
  const coder::array<double, 2>& D = designMatrix(n, p);
  double s[10];
  double V[100];
  int vSize[2];
  std::size_t peakExtra = 0;
  for (auto _ : state) {
    const std::size_t before = gLiveBytes.load();
    gPeakBytes.store(before);
    {
      coder::array<double, 2> U;
      benchmark::DoNotOptimize(decompose(D, U, s, V, vSize));
      benchmark::DoNotOptimize(V[p * (vSize[1] - 1)]);
    }
    peakExtra = gPeakBytes.load() - before;
  }
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(n) * state.iterations(), benchmark::Counter::kIsRate,
                         benchmark::Counter::OneK::kIs1000);
  state.counters["peak_heap_MB"] = static_cast<double>(peakExtra) / 1e6;
  state.counters["heap_B_per_row"] = static_cast<double>(peakExtra) / n;
  state.counters["process_max_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1e3;
}

void BM_Svd7(benchmark::State& state) {
  runDecomposition(state, &coder::internal::svd, 7);
}
void BM_Svd10(benchmark::State& state) {
  runDecomposition(state, &coder::internal::b_svd, 10);
}

typedef int (*RightOnlyFunction)(coder::array<double, 2>&, double*, double*, int*);

// The decomposition as the fits run it; range(1) is the number of threads (1 or 2).
void runRightOnly(benchmark::State& state, RightOnlyFunction decompose, int p) {
  const int n = static_cast<int>(state.range(0));
  coder::internal::setCoreThreads(static_cast<int>(state.range(1)), 0);
  const coder::array<double, 2>& D = designMatrix(n, p);
  coder::array<double, 2> work;
  work.set_size(n, p);
  double s[10];
  double V[100];
  int vSize[2];
  std::size_t peakExtra = 0;
  for (auto _ : state) {
    std::copy(D.data(), D.data() + D.numel(), work.data());
    const std::size_t before = gLiveBytes.load();
    gPeakBytes.store(before);
    benchmark::DoNotOptimize(decompose(work, s, V, vSize));
    benchmark::DoNotOptimize(V[p * (vSize[1] - 1)]);
    peakExtra = gPeakBytes.load() - before;
  }
  coder::internal::setCoreThreads(0, 0);
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(n) * state.iterations(), benchmark::Counter::kIsRate,
                         benchmark::Counter::OneK::kIs1000);
  state.counters["peak_heap_MB"] = static_cast<double>(peakExtra) / 1e6;
  state.counters["heap_B_per_row"] = static_cast<double>(peakExtra) / n;
}

int rightOnly7(coder::array<double, 2>& A, double* s, double* V, int* vSize) {
  return coder::internal::reflapack::xzsvdc(A, s, V, vSize);
}
int rightOnly10(coder::array<double, 2>& A, double* s, double* V, int* vSize) {
  return coder::internal::reflapack::b_xzsvdc(A, s, V, vSize);
}

void BM_Svd7RightOnly(benchmark::State& state) {
  runRightOnly(state, &rightOnly7, 7);
}
void BM_Svd10RightOnly(benchmark::State& state) {
  runRightOnly(state, &rightOnly10, 10);
}

BENCHMARK(BM_Svd7)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Svd10)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Svd7RightOnly)
    ->ArgsProduct({{1000, 100000, 1000000}, {1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Svd10RightOnly)
    ->ArgsProduct({{1000, 100000, 1000000}, {1, 2}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
