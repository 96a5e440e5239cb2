// Singular value decomposition of a tall matrix with 7 or 10 columns (the workers).
#ifndef XZSVDC_H
#define XZSVDC_H

#include "coder_array.h"

namespace coder {
namespace internal {
namespace reflapack {

// Economy-size A = U * diag(S) * V' of an n-by-7 matrix A (n >= 1), which is overwritten by the
// Householder vectors. U becomes n-by-k, S_data[0 .. k-1] the singular values (non-negative,
// non-increasing) and V_data a 7-by-k column-major block, with k = min(n, 7) returned and
// V_size = {7, k}. S_data and V_data must hold 7 and 49 doubles. Non-finite input is not
// detected; after 75 shifted QR sweeps without a convergence the current state is returned.
int xzsvdc(coder::array<double, 2>& A, coder::array<double, 2>& U, double* S_data, double* V_data,
           int* V_size);

// The same without the left factor: S_data, V_data and V_size exactly as above, for callers that
// need only the right singular vectors. The singular values and right vectors never depend on U.
int xzsvdc(coder::array<double, 2>& A, double* S_data, double* V_data, int* V_size);

// The same for an n-by-10 matrix: k = min(n, 10), V_size = {10, k}; S_data and V_data must hold
// 10 and 100 doubles.
int b_xzsvdc(coder::array<double, 2>& A, coder::array<double, 2>& U, double* S_data, double* V_data,
             int* V_size);
int b_xzsvdc(coder::array<double, 2>& A, double* S_data, double* V_data, int* V_size);

}  // namespace reflapack
}  // namespace internal
}  // namespace coder

#endif
