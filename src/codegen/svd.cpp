// Singular value decomposition of a tall matrix with 7 or 10 columns.
#include "svd.h"

#include "xzsvdc.h"

namespace coder {
namespace internal {

namespace {

typedef int (*SvdWorker)(coder::array<double, 2>&, coder::array<double, 2>&, double*, double*,
                         int*);

// Runs the worker for p columns on a copy of A, which the worker overwrites.
int decomposeCopy(int p, SvdWorker worker, const coder::array<double, 2>& A,
                  coder::array<double, 2>& U, double* s_data, double* V_data, int* V_size) {
  const int n = A.size(0);
  if (n == 0) {
    U.set_size(0, 0);
    V_size[0] = p;
    V_size[1] = 0;
    return 0;
  }
  coder::array<double, 2> work;
  work.set_size(n, p);
  const int count = n * p;
  for (int i = 0; i < count; ++i) {
    work[i] = A[i];
  }
  return worker(work, U, s_data, V_data, V_size);
}

}  // namespace

int svd(const coder::array<double, 2>& A, coder::array<double, 2>& U, double* s_data,
        double* V_data, int* V_size) {
  return decomposeCopy(7, &reflapack::xzsvdc, A, U, s_data, V_data, V_size);
}

int b_svd(const coder::array<double, 2>& A, coder::array<double, 2>& U, double* s_data,
          double* V_data, int* V_size) {
  return decomposeCopy(10, &reflapack::b_xzsvdc, A, U, s_data, V_data, V_size);
}

}  // namespace internal
}  // namespace coder
