// The entry point of a fuzz target built without libFuzzer: replays inputs instead of searching.
//
//   fuzz_TARGET PATH...
//
// Each PATH is a file, or a folder whose regular files are replayed in name order (the committed
// seeds fuzz/corpus/TARGET). Each input goes once through the target's LLVMFuzzerInitialize (when
// it has one) and LLVMFuzzerTestOneInput, its name printed on standard error first, so that the
// input a failed check aborts on is the last name printed. Exit status 0 when at least one input
// was replayed, 1 for a path that cannot be read or no input at all: an empty or misnamed corpus
// never passes as replayed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Defined by the targets that prepare something once (a scratch file, silenced descriptors).
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

// The inputs a path names, or false when it names nothing readable.
bool collectInputs(const fs::path& path, std::vector<fs::path>& inputs) {
  std::error_code error;
  if (fs::is_directory(path, error)) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
      if (entry.is_regular_file(error)) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    inputs.insert(inputs.end(), files.begin(), files.end());
    return !error;
  }
  if (fs::is_regular_file(path, error)) {
    inputs.push_back(path);
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!collectInputs(argv[i], inputs)) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[i]);
      return 1;
    }
  }
  for (const fs::path& input : inputs) {
    std::fprintf(stderr, "%s\n", input.c_str());
    std::ifstream in(input, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    if (in.bad()) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], input.c_str());
      return 1;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::fprintf(stderr, "%s: replayed %zu inputs\n", argv[0], inputs.size());
  return inputs.empty() ? 1 : 0;
}
