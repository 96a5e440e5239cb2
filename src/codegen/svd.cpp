// Singular value decomposition of a tall matrix with 7 or 10 columns.
#include "svd.h"

#include "xzsvdc.h"

namespace coder {
namespace internal {

namespace {

typedef int (*SvdWorker)(coder::array<double, 2>&, coder::array<double, 2>&, double*, double*,
                         int*);

// Runs the worker for P columns on a copy of A, which the worker overwrites. Without rows the
// worker only sizes U to 0-by-0 and V_size to {P, 0} and returns 0, touching neither s_data nor
// V_data.
template <int P>
int decomposeCopy(SvdWorker worker, const coder::array<double, 2>& A, coder::array<double, 2>& U,
                  double* s_data, double* V_data, int* V_size) {
  const int n = A.size(0);
  coder::array<double, 2> copy;
  copy.set_size(n, P);
  const int count = n * P;
  for (int i = 0; i < count; ++i) {
    copy[i] = A[i];
  }
  return worker(copy, U, s_data, V_data, V_size);
}

}  // namespace

int svd(const coder::array<double, 2>& A, coder::array<double, 2>& U, double* s_data,
        double* V_data, int* V_size) {
  return decomposeCopy<7>(&reflapack::xzsvdc, A, U, s_data, V_data, V_size);
}

int b_svd(const coder::array<double, 2>& A, coder::array<double, 2>& U, double* s_data,
          double* V_data, int* V_size) {
  return decomposeCopy<10>(&reflapack::b_xzsvdc, A, U, s_data, V_data, V_size);
}

}  // namespace internal
}  // namespace coder
