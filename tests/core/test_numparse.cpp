// Number conversion: numparse::toDouble must give what strtod gives, status, value bits and end,
// on a sample of the generated forms (the long run is tools/check_numparse.cpp) and on the texts
// where a fast decimal conversion is known to differ from strtod.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "numparse.hpp"
#include "numparse_forms.h"

namespace {

using numparse::Status;

// Catches a fast path taken where it differs from strtod, in any of the generated forms.
TEST(NumberConversion, GeneratedFormsMatchStrtod) {
  numparse_forms::Generator generator(20240601);
  int mismatches = 0;
  for (int k = 0; k < 100000; ++k) {
    int form = 0;
    const std::string text = generator.next(form);
    const std::string difference = numparse_forms::compareWithStrtod(text);
    if (!difference.empty() && ++mismatches <= 10) {
      ADD_FAILURE() << numparse_forms::formName(form) << ":" << difference << ": '" << text << "'";
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// The known traps, with the status and value strtod gives, so that a change of the reference
// itself would show too.
TEST(NumberConversion, TrapsOfAFastDecimalConversion) {
  struct Trap {
    const char* text;
    Status status;
    double value;
    int used;  // characters that make up the number
  };
  const Trap traps[] = {
      {"2.2250738585072012e-308", Status::OutOfRange, DBL_MIN, 23},  // rounds up to DBL_MIN
      {"2.2250738585072014e-308", Status::Ok, DBL_MIN, 23},
      {"4.9406564584124654e-324", Status::OutOfRange, 0x1p-1074, 23},  // subnormal
      {"1e-400", Status::OutOfRange, 0.0, 6},
      {"1.8e308", Status::OutOfRange, HUGE_VAL, 7},
      {"0x1p3", Status::Ok, 8.0, 5},
      {"-0X1.8P-1", Status::Ok, -0.75, 9},
      {" +1.5", Status::Ok, 1.5, 5},
      {"\t-2", Status::Ok, -2.0, 3},
      {"-Infinity", Status::Ok, -HUGE_VAL, 9},
      {"infinit", Status::Ok, HUGE_VAL, 3},
      {"-0", Status::Ok, -0.0, 2},
      {"1e+", Status::Ok, 1.0, 1},
      {"+-1", Status::NoNumber, 0.0, 0},
  };
  for (const Trap& trap : traps) {
    SCOPED_TRACE(trap.text);
    const char* const first = trap.text;
    const char* const last = first + std::strlen(first);
    double value = 7.0;
    const char* end = nullptr;
    EXPECT_EQ(numparse::toDouble(first, last, value, &end), trap.status);
    EXPECT_EQ(std::memcmp(&value, &trap.value, sizeof value), 0) << value;
    EXPECT_EQ(end - first, trap.used);
    EXPECT_EQ(numparse_forms::compareWithStrtod(trap.text), "");
  }
  // nan(...) with a sign and a payload: strtod's NaN, the sign kept.
  double value = 0.0;
  const std::string nan = "-nan(0x12)";
  EXPECT_EQ(numparse::toDouble(nan.data(), nan.data() + nan.size(), value), Status::Ok);
  EXPECT_TRUE(std::isnan(value) && std::signbit(value));
  EXPECT_EQ(numparse_forms::compareWithStrtod(nan), "");

  // Nothing past last is read, not even a terminator.
  const char digits[] = {'1', '2', '5', '9'};
  EXPECT_EQ(numparse::toDouble(digits, digits + 3, value), Status::Ok);
  EXPECT_EQ(value, 125.0);
}

// The exact path for short decimals takes a whole number of at most 2^53 times a power of ten
// within +-22; at each of its edges, and for the shapes it leaves to the general conversion, the
// result is strtod's, bits and end.
TEST(NumberConversion, ShortDecimalsAtTheEdgesOfTheExactPath) {
  const char* const texts[] = {
      "9007199254740992",
      "9007199254740993",
      "90071992547409921e-1",  // 2^53, 2^53+1
      "1e22",
      "1e23",
      "1e-22",
      "1e-23",
      "4.5e+21",
      "123456789012345678e-5",
      "0.00705886092941945",
      "-0.322593324895122",
      "1.",
      "-.5",
      ".",
      "-",
      "1.5.3",
      "1e",
      "1e+",
      "1e-x",
      "0.000",
      "-0",
      "0012.50",
      "00x1",
      "12345678901234567890",
      "1e0000000000000000021",
      "1E5",
      "7,5",
      "3 ",
      "2.5e3x",
      "-0.0e5",
      "1_000",
  };
  for (const char* text : texts) {
    EXPECT_EQ(numparse_forms::compareWithStrtod(text), "") << text;
  }
  // A short decimal that ends at last, without a terminator after it.
  const char digits[] = {'-', '1', '.', '2', '5', 'e', '2', '7'};
  double value = 0.0;
  const char* end = nullptr;
  EXPECT_EQ(numparse::toDouble(digits, digits + 7, value, &end), Status::Ok);
  EXPECT_EQ(value, -125.0);
  EXPECT_EQ(end, digits + 7);
}

}  // namespace
