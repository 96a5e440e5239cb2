// QR factorisation with column pivoting of a tall or wide matrix.
#ifndef XGEQP3_H
#define XGEQP3_H

#include "coder_array.h"

namespace coder {
namespace internal {
namespace lapack {

// Factors the m-by-n column-major A in place as A*P = Q*R (unblocked Householder QR with column
// pivoting). On return R is on and above the diagonal, the reflector vectors (leading 1 not
// stored) below it, tau_data[0 .. min(m,n)-1] the reflector factors, jpvt_data[0 .. n-1] the
// 1-based original index of each pivoted column and jpvt_size = {1, n}. Returns min(m, n).
// The caller provides tau_data of min(m, n) and jpvt_data of n entries; nothing is checked.
int xgeqp3(coder::array<double, 2>& A, double tau_data[], int jpvt_data[], int jpvt_size[2]);

}  // namespace lapack
}  // namespace internal
}  // namespace coder

#endif
