// Fuzzes the CSV reader: the input bytes become the whole file. Whatever the bytes, the file must
// open and the three columns must come out of equal length: the number of newline bytes plus one.
// The fast reader must also agree with the reference reader of the tests, bit for bit in the
// columns and byte for byte in the messages and the complete-row mask, with chunks of a few bytes
// and the file split in two halves (parsed on a second thread and on the calling one), starting
// from previous column contents that the input's length picks.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../tests/support/reader_comparison.h"
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

  const std::string bytes(reinterpret_cast<const char*>(data), size);
  csvcolumns::Columns previous;
  for (std::size_t row = 0; row < size % 7; ++row) {
    for (int c = 0; c < 3; ++c) {
      previous[c].push_back(static_cast<double>(row) + 0.5 * c);
    }
  }
  using csvcolumns::Options;
  const Options variants[] = {{1 + size % 13, 2, Options::SecondHalf::Thread},
                              {1 + size % 5, 1 + size / 3, Options::SecondHalf::SameThread}};
  for (const Options& options : variants) {
    const std::string difference =
        reader_comparison::compare(readerScratchPath(), bytes, previous, options);
    if (!difference.empty()) {
      std::fprintf(stderr, "fuzz_reader: fast and reference readers differ: %s\n",
                   difference.c_str());
      std::abort();
    }
  }
  return 0;
}
