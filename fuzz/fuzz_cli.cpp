// Fuzzes the command line: the input bytes are split at NUL bytes into the latitude, longitude,
// altitude and tolerance arguments (missing ones are empty strings), and the real entry point runs
// on a small fixed CSV file with its output silenced. The run must end with status 0 (report), 1
// (an argument was refused) or 2 (a report without calibration); a crash, a sanitizer finding or
// any other status is a fault.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "quiet_output.hpp"

// main() of the tool, compiled into this target under another name.
int fluxtrim_main(int argc, char** argv);

namespace {

// A header, a handful of samples around a 0.48 gauss field and a final newline.
const char kSampleFile[] =
    "CAP_magX,CAP_magY,CAP_magZ\n"
    "0.171030819416046,-0.16620759665966,0.386092156171799\n"
    "0.171149805188179,-0.165583327412605,0.398465633392334\n"
    "0.17495721578598,-0.168829515576363,0.382784396409988\n"
    "-0.301,0.212,0.297\n"
    "0.402,0.188,-0.221\n"
    "0.044,-0.455,0.101\n"
    "-0.250,-0.330,-0.260\n"
    "0.310,0.350,0.120\n";

const std::string& cliScratchPath() {
  static const std::string path = "/tmp/fluxtrim_fuzz_cli_" + std::to_string(getpid()) + ".csv";
  return path;
}

void cliRemoveScratch() {
  std::remove(cliScratchPath().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzquiet::descriptors();
  std::FILE* out = std::fopen(cliScratchPath().c_str(), "wb");
  if (out == nullptr || std::fputs(kSampleFile, out) < 0 || std::fclose(out) != 0) {
    std::perror("fuzz_cli: cannot write the sample file");
    std::abort();
  }
  std::atexit(cliRemoveScratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> numbers(4);
  std::size_t field = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\0') {
      if (++field == numbers.size()) {
        break;
      }
    } else {
      numbers[field].push_back(static_cast<char>(data[i]));
    }
  }

  std::string program = "fluxtrim.out";
  std::string path = cliScratchPath();
  std::vector<char*> argv = {program.data(), path.data()};
  for (std::string& number : numbers) {
    argv.push_back(number.data());
  }
  argv.push_back(nullptr);

  int status = 0;
  {
    fuzzquiet::Silence quiet;
    status = fluxtrim_main(static_cast<int>(argv.size()) - 1, argv.data());
  }
  if (status != 0 && status != 1 && status != 2) {
    std::fprintf(stderr, "fuzz_cli: unexpected exit status %d\n", status);
    std::abort();
  }
  return 0;
}
