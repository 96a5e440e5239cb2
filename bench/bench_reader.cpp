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

#include "FERROKIT.hpp"

namespace {

namespace fs = std::filesystem;

// A stream buffer that drops everything: the header cells' messages are not what is measured.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Generated files, one per line count, in a private temporary directory removed at exit.
class SampleFiles {
 public:
  ~SampleFiles() {
    if (!dir_.empty()) {
      std::error_code ignored;
      fs::remove_all(dir_, ignored);
    }
  }

  // Path of a file with a header and dataLines lines of three samples in gauss.
  const std::string& path(long dataLines) {
    auto found = paths_.find(dataLines);
    if (found != paths_.end()) {
      return found->second;
    }
    if (dir_.empty()) {
      std::string pattern = (fs::temp_directory_path() / "fluxtrim_bench_XXXXXX").string();
      if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
      }
      dir_ = pattern;
    }
    const std::string file = (dir_ / ("mag_" + std::to_string(dataLines) + ".csv")).string();
    std::ofstream out(file, std::ios::binary);
    out << "CAP_magX,CAP_magY,CAP_magZ\n";
    std::mt19937_64 random(12345);
    std::normal_distribution<double> component(0.0, 0.28);  // gauss, about 0.48 in magnitude
    char line[96];
    for (long k = 0; k < dataLines; ++k) {
      const double x = component(random);
      const double y = component(random);
      const double z = component(random);
      const int length = std::snprintf(line, sizeof line, "%.15g,%.15g,%.15g\n", x, y, z);
      out.write(line, length);
    }
    return paths_.emplace(dataLines, file).first->second;
  }

 private:
  fs::path dir_;
  std::map<long, std::string> paths_;
};

SampleFiles& sampleFiles() {
  static SampleFiles files;
  return files;
}

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
