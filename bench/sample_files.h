// Generated sample files shared by the reader benchmarks: a header line, then lines of three
// numbers of 15 significant digits, as a logger writes them, in a private temporary directory
// removed at exit.
#ifndef FLUXTRIM_BENCH_SAMPLE_FILES_H
#define FLUXTRIM_BENCH_SAMPLE_FILES_H

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <streambuf>
#include <string>

namespace bench_files {

namespace fs = std::filesystem;

// A stream buffer that drops everything: the readers' messages are not what is measured.
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

inline SampleFiles& sampleFiles() {
  static SampleFiles files;
  return files;
}

}  // namespace bench_files

#endif
