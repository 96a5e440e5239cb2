// Fuzzes the CSV reader: the input bytes become the whole file. Whatever the bytes, the file must
// open and the three columns must come out of equal length: the number of newline bytes plus one.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FERROKIT.hpp"
#include "quiet_output.hpp"

namespace {

// One scratch file per fuzzing process, removed at exit; in memory-backed /dev/shm where there is
// one, since the file is rewritten on every execution.
const std::string& readerScratchPath() {
  static const std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                  "/fluxtrim_fuzz_reader_" + std::to_string(getpid()) + ".csv";
  return path;
}

void readerRemoveScratch() {
  std::remove(readerScratchPath().c_str());
}

void readerWriteScratch(const std::uint8_t* data, std::size_t size) {
  std::FILE* out = std::fopen(readerScratchPath().c_str(), "wb");
  if (out == nullptr || (size > 0 && std::fwrite(data, 1, size, out) != size) ||
      std::fclose(out) != 0) {
    std::perror("fuzz_reader: cannot write the scratch file");
    std::abort();
  }
}

void readerCheck(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_reader: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzquiet::descriptors();
  std::atexit(readerRemoveScratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  readerWriteScratch(data, size);
  const std::size_t newlines = static_cast<std::size_t>(std::count(data, data + size, '\n'));

  FERROKIT ferroKit;
  bool opened = false;
  {
    fuzzquiet::Silence quiet;
    opened = ferroKit.readMagnetometerMeasures(readerScratchPath());
  }
  readerCheck(opened, "an existing regular file was reported as not opened");
  for (const std::vector<double>& column : ferroKit.getMagnetometerMeasures()) {
    readerCheck(column.size() == newlines + 1, "a column length differs from newline count + 1");
  }
  return 0;
}
