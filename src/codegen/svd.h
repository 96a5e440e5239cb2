// Singular value decomposition of a tall matrix with 7 or 10 columns.
#ifndef SVD_H
#define SVD_H

#include "coder_array.h"

namespace coder {
namespace internal {

// Economy-size A = U * diag(s) * V' of an n-by-7 matrix A (left untouched). U becomes n-by-k,
// s_data[0 .. k-1] the singular values in non-increasing order and V_data a 7-by-k column-major
// block (V_size = {7, k}), k = min(n, 7) returned. For n = 0, U is 0-by-0, V_size = {7, 0} and
// s_data, V_data are not touched. A must have exactly 7 columns and finite entries; s_data and
// V_data must hold 7 and 49 doubles.
int svd(const coder::array<double, 2>& A, coder::array<double, 2>& U, double* s_data,
        double* V_data, int* V_size);

// The same for an n-by-10 matrix: k = min(n, 10), V_size = {10, k}; s_data and V_data must hold
// 10 and 100 doubles.
int b_svd(const coder::array<double, 2>& A, coder::array<double, 2>& U, double* s_data,
          double* V_data, int* V_size);

}  // namespace internal
}  // namespace coder

#endif
