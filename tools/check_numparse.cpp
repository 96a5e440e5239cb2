// Long conversion check: numparse::toDouble against strtod on generated number texts in every
// form where the two could part (tests/numparse_forms.h), counting mismatches in status (the
// exception std::stod would throw), value bits and end position.
//
//   check_numparse [COUNT [SEED]]     defaults: 10000000 texts, seed 1
//
// Prints the count per form and the first mismatches; exit status 0 when there is none.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "numparse_forms.h"

int main(int argc, char** argv) {
  const std::uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
  const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
  numparse_forms::Generator generator(seed);
  std::uint64_t perForm[numparse_forms::kFormCount] = {};
  std::uint64_t mismatches = 0;
  for (std::uint64_t k = 0; k < count; ++k) {
    int form = 0;
    const std::string text = generator.next(form);
    ++perForm[form];
    const std::string difference = numparse_forms::compareWithStrtod(text);
    if (!difference.empty()) {
      if (++mismatches <= 20) {
        std::printf("mismatch (%s):%s: '", numparse_forms::formName(form), difference.c_str());
        for (char c : text) {
          std::printf(c >= 0x20 && c < 0x7f ? "%c" : "\\x%02X", static_cast<unsigned char>(c));
        }
        std::printf("'\n");
      }
    }
  }
  for (int form = 0; form < numparse_forms::kFormCount; ++form) {
    std::printf("%-16s %12" PRIu64 "\n", numparse_forms::formName(form), perForm[form]);
  }
  std::printf("%" PRIu64 " texts, %" PRIu64 " mismatches in status, value bits or end\n", count,
              mismatches);
  return mismatches == 0 ? 0 : 1;
}
