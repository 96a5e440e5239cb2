// Replays every committed fuzzing seed (fuzz/corpus/<target>/), regression inputs of past findings
// included, through the same checks the fuzz targets make, in the ordinary build. A check that
// fails aborts the test; under the sanitizer build a memory fault is reported as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Each target defines the libFuzzer entry points; they are renamed here so the three can share
// one program, and main() of the tool is compiled in under the name the command-line target uses.
#define LLVMFuzzerInitialize readerInitialize
#define LLVMFuzzerTestOneInput readerOneInput
#include "../../fuzz/fuzz_reader.cpp"
#undef LLVMFuzzerInitialize
#undef LLVMFuzzerTestOneInput

#define LLVMFuzzerTestOneInput calibrationOneInput
#include "../../fuzz/fuzz_calibration.cpp"
#undef LLVMFuzzerTestOneInput

#define LLVMFuzzerInitialize cliInitialize
#define LLVMFuzzerTestOneInput cliOneInput
#include "../../fuzz/fuzz_cli.cpp"
#undef LLVMFuzzerInitialize
#undef LLVMFuzzerTestOneInput

#define main fluxtrim_main
#include "../../main.cpp"
#undef main

namespace {

namespace fs = std::filesystem;

// Runs one target over its seed folder in name order; returns the number of seeds replayed.
int replay(const std::string& target, int (*oneInput)(const std::uint8_t*, std::size_t)) {
  const fs::path folder = fs::path(FLUXTRIM_SOURCE_DIR) / "fuzz" / "corpus" / target;
  std::vector<fs::path> seeds;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    seeds.push_back(entry.path());
  }
  std::sort(seeds.begin(), seeds.end());
  for (const fs::path& seed : seeds) {
    std::ifstream in(seed, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    SCOPED_TRACE(seed.string());
    std::fprintf(stderr, "%s\n", seed.filename().c_str());
    oneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  return static_cast<int>(seeds.size());
}

TEST(FuzzCorpus, ReaderSeeds) {
  readerInitialize(nullptr, nullptr);
  EXPECT_GT(replay("fuzz_reader", readerOneInput), 0);
}

TEST(FuzzCorpus, CalibrationSeeds) {
  EXPECT_GT(replay("fuzz_calibration", calibrationOneInput), 0);
}

TEST(FuzzCorpus, CommandLineSeeds) {
  cliInitialize(nullptr, nullptr);
  EXPECT_GT(replay("fuzz_cli", cliOneInput), 0);
}

}  // namespace
