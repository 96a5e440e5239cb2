// The calibration core's three candidate fits (sphere, axis-aligned and general ellipsoid) on
// the kept samples, computed in one pass of blocked Householder QR over the samples instead of the
// core's decompositions of N-by-4, N-by-7 and N-by-10 design matrices.
#ifndef FLUXTRIM_LIB_STREAMING_FIT_HPP
#define FLUXTRIM_LIB_STREAMING_FIT_HPP

#include <cstddef>
#include <vector>

#include "fluxtrim/types.hpp"
#include "magcal.h"

namespace fluxtrim {
namespace detail {

// The core's own fits (coder::magcalFits) of the samples values[rows[k]], in the order of rows,
// on a copy of them as the N-by-3 matrix it takes (24 bytes per sample, and the core's 80 bytes
// per sample of working storage). Rows must index values.
void coreMagcalFits(const std::vector<Vec3>& values, const std::vector<std::size_t>& rows,
                    coder::MagcalFits& fits);

// The same three candidates and the same choice from the samples values[rows[k]], without a
// design matrix: the R factor of the 11 columns x, y, z, 1, x^2, y^2, z^2, 2xy, 2xz, 2yz and
// |v|^2 is built a block of rows at a time, the block's Householder reflections applied to the R
// of the blocks before; the two halves of the blocks, on two threads where the core has them, are
// combined in a fixed order, so that one thread and two give the same bits. The leading 4, 7 and
// 10 columns are the designs of the sphere and the two ellipsoids: the sphere solves the leading
// 4-by-4 block against the last column, the ellipsoids take the right singular vector of the
// smallest singular value of their leading 7-by-7 and 10-by-10 blocks, and the core turns those
// into models. One more pass sums the three fits' squared residuals.
// The results are the core's within rounding (offsets and matrices within about 1e-12 relative on
// well-posed recordings). Where rounding alone decides the answer, the core's fits are returned
// instead (coreMagcalFits): fewer samples than 11, a coordinate beyond 1e50 or not finite, a
// sphere design near rank deficiency, a smallest singular value not set apart from the next, or
// a choice between two errors that agree to rounding. Returns false when it did so. Rows must
// index values.
bool streamingMagcalFits(const std::vector<Vec3>& values, const std::vector<std::size_t>& rows,
                         coder::MagcalFits& fits);

}  // namespace detail
}  // namespace fluxtrim

#endif
