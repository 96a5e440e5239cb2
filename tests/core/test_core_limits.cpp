// The sample-count guard in front of the calibration core, checked at its boundary: the core's
// ten-column design matrix must stay within the int range of its indices.
#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cstdint>

#include "coreLimits.hpp"

TEST(SampleCountGuard, AcceptsExactlyTheCountsWhoseDesignMatrixFitsAnInt) {
  EXPECT_TRUE(sampleCountFitsCore(0));
  EXPECT_TRUE(sampleCountFitsCore(1));
  EXPECT_TRUE(sampleCountFitsCore(10000002));  // a large logged file
  EXPECT_TRUE(sampleCountFitsCore(214748364));
  EXPECT_FALSE(sampleCountFitsCore(214748365));
  EXPECT_FALSE(sampleCountFitsCore(static_cast<std::size_t>(INT_MAX)));
  EXPECT_FALSE(sampleCountFitsCore(SIZE_MAX));

  // The boundary is where ten columns of rows cross the largest int.
  EXPECT_LE(std::uint64_t{214748364} * 10, std::uint64_t{INT_MAX});
  EXPECT_GT(std::uint64_t{214748365} * 10, std::uint64_t{INT_MAX});
  EXPECT_EQ(kMaxCoreSampleCount, std::size_t{214748364});
}
