// Two rules of the fits that no other test pins: a later model replaces the current choice only
// when its error is strictly smaller, and the least-squares solve drops the unknowns whose pivot
// lies below its rank tolerance, 10 * eps * max(rows, columns) times the largest pivot.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "calibration_test_data.h"
#include "coder_array.h"
#include "magcal.h"
#include "mldivide.h"

namespace {

using calibration_test::sampleMatrix;
using calibration_test::Vec3;

// Catches a choice that takes a model on a tie (>= for >). The two sample sets were found by
// search: on the first the sphere and the axis-aligned ellipsoid both fit exactly (error 0), on the
// second the axis-aligned and the general ellipsoid have the same error to the bit. In each case
// the later model is acceptable in every other respect, so only the tie keeps the earlier one.
TEST(FitRules, ATieKeepsTheEarlierModel) {
  struct Case {
    std::vector<Vec3> samples;
    int kept;  // the model that must be chosen
    int tied;  // the later model with the same error
  };
  const Case cases[] = {
      {{{2, 2, -3}, {-2, 2, 3}}, 0, 1},
      {{{1, 0, 0}, {0, -1, 0}, {0, 0, -1}, {0, 1, 0}, {0, 0, 0}}, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tied);
    coder::MagcalFits fits;
    coder::magcalFits(sampleMatrix(c.samples), fits);
    const coder::MagcalFit& kept = fits.fit[c.kept];
    const coder::MagcalFit& tied = fits.fit[c.tied];
    ASSERT_EQ(tied.error, kept.error);
    ASSERT_TRUE(tied.positiveDefinite && tied.exactlyReal);
    EXPECT_EQ(fits.chosen, c.kept);
  }
}

// Catches a changed rank tolerance (eps for 10 * eps, min(rows, columns) for max, a fixed
// threshold). Columns a = (1, ..., 1) and b = a + delta * (1, -1, 1, -1, ...) over m = 1000 rows
// have a second pivot of about delta times the first, whichever is pivoted first. The tolerance is
// 10 * 2.220446049250313e-16 * 1000 = 2.22e-12. Below it one unknown is dropped (exactly 0); above
// it the system has full rank and 2a - b is solved exactly by the unknowns (2, -1).
TEST(FitRules, LeastSquaresRankTolerance) {
  const int m = 1000;
  for (const double delta : {1.0e-12, 4.0e-12}) {
    SCOPED_TRACE(delta);
    coder::array<double, 2> A;
    A.set_size(m, 2);
    coder::array<double, 1> rhs;
    rhs.set_size(m);
    for (int i = 0; i < m; ++i) {
      A[i] = 1.0;
      A[i + m] = 1.0 + (i % 2 == 0 ? delta : -delta);
      rhs[i] = 2.0 * A[i] - A[i + m];
    }
    coder::mldivide(A, rhs);
    ASSERT_EQ(rhs.size(0), 2);
    if (delta < 2.220446049250313e-12) {
      EXPECT_TRUE(rhs[0] == 0.0 || rhs[1] == 0.0) << rhs[0] << " " << rhs[1];
    } else {
      EXPECT_NEAR(rhs[0], 2.0, 1e-3);
      EXPECT_NEAR(rhs[1], -1.0, 1e-3);
    }
  }
}

}  // namespace
