// QR factorisation with column pivoting, unblocked, with partial column norms that are
// downdated after each step and recomputed when cancellation makes the downdate unreliable.
#include "xgeqp3.h"

#include <cmath>
#include <vector>

#include "coreThreads.h"
#include "fixed_scratch.h"
#include "staticMagCalibration_rtwutil.h"
#include "xnrm2.h"

namespace coder {
namespace internal {
namespace lapack {

int xgeqp3(coder::array<double, 2>& A, double tau_data[], int jpvt_data[], int jpvt_size[2]) {
  const double twoPow970 = 9.9792015476736e+291;          // 2^970
  const double twoPowMinus970 = 1.0020841800044864e-292;  // 2^-970, the rescaling threshold
  const double sqrtEps = 1.4901161193847656e-08;          // 2^-26
  const int m = A.size(0);
  const int n = A.size(1);
  const int minmn = m < n ? m : n;
  for (int k = 0; k < minmn; ++k) {
    tau_data[k] = 0.0;
  }
  jpvt_size[0] = 1;
  jpvt_size[1] = n;
  if (minmn < 1) {
    for (int j = 0; j < n; ++j) {
      jpvt_data[j] = j + 1;
    }
    return minmn;
  }

  double vn1Fixed[kFixedColumns];
  double vn2Fixed[kFixedColumns];
  double workFixed[kFixedColumns];
  std::vector<double> vn1Heap;
  std::vector<double> vn2Heap;
  std::vector<double> workHeap;
  double* vn1_data = scratchBuffer(vn1Fixed, vn1Heap, n);  // partial column norms
  double* vn2_data = scratchBuffer(vn2Fixed, vn2Heap, n);  // norms at the last recomputation
  double* work_data = scratchBuffer(workFixed, workHeap, n);

  // Full column norms, the columns split between two threads for a tall matrix (each norm is
  // one sequential sum either way).
  const bool split = n >= 2 && splitPays(m);
  runTwoParts(split, [&](int part) {
    const int first = part == 0 ? 0 : (split ? n / 2 : n);
    const int last = part == 0 ? (split ? n / 2 : n) : n;
    for (int j = first; j < last; ++j) {
      const double norm = blas::xnrm2(m, A, j * m + 1);
      vn1_data[j] = norm;
      vn2_data[j] = norm;
    }
  });
  for (int j = 0; j < n; ++j) {
    jpvt_data[j] = j + 1;
    work_data[j] = 0.0;
  }

  for (int i = 0; i < minmn; ++i) {
    const int rowsLeft = m - i;  // rows i .. m-1
    const int diag = i + i * m;  // storage index of A(i, i)

    // Pivot: the first column of largest partial norm among i .. n-1.
    int pvt = i;
    double smax = vn1_data[i];
    for (int k = i + 1; k < n; ++k) {
      if (vn1_data[k] > smax) {
        smax = vn1_data[k];
        pvt = k;
      }
    }
    if (pvt != i) {
      for (int row = 0; row < m; ++row) {
        const double temp = at(A, m, row, pvt);
        at(A, m, row, pvt) = at(A, m, row, i);
        at(A, m, row, i) = temp;
      }
      const int itemp = jpvt_data[pvt];
      jpvt_data[pvt] = jpvt_data[i];
      jpvt_data[i] = itemp;
      vn1_data[pvt] = vn1_data[i];
      vn2_data[pvt] = vn2_data[i];
    }

    // Reflector H(i) = I - tau * v * v' with v(0) = 1 that maps column i below the diagonal to 0.
    if (i + 1 < m) {
      double alpha = A[diag];
      tau_data[i] = 0.0;
      const int below = diag + 1;  // storage index of A(i+1, i)
      const int belowCount = rowsLeft - 1;
      const double xnorm = blas::xnrm2(belowCount, A, below + 1);
      if (xnorm != 0.0) {
        double beta = rt_hypotd_snf(alpha, xnorm);
        if (alpha >= 0.0) {
          beta = -beta;
        }
        if (std::fabs(beta) < twoPowMinus970) {
          // beta may be inaccurate: scale the column up until it is not, at most 20 times.
          int knt = 0;
          do {
            ++knt;
            for (int k = below; k < below + belowCount; ++k) {
              A[k] *= twoPow970;
            }
            beta *= twoPow970;
            alpha *= twoPow970;
          } while (std::fabs(beta) < twoPowMinus970 && knt < 20);
          beta = rt_hypotd_snf(alpha, blas::xnrm2(belowCount, A, below + 1));
          if (alpha >= 0.0) {
            beta = -beta;
          }
          tau_data[i] = (beta - alpha) / beta;
          const double scale = 1.0 / (alpha - beta);
          for (int k = below; k < below + belowCount; ++k) {
            A[k] *= scale;
          }
          for (int pass = 0; pass < knt; ++pass) {
            beta *= twoPowMinus970;
          }
          alpha = beta;
        } else {
          tau_data[i] = (beta - alpha) / beta;
          const double scale = 1.0 / (alpha - beta);
          for (int k = below; k < below + belowCount; ++k) {
            A[k] *= scale;
          }
          alpha = beta;
        }
      }
      A[diag] = alpha;
    } else {
      tau_data[i] = 0.0;
    }

    // Apply H(i) from the left to the trailing columns i+1 .. n-1.
    if (i + 1 < n) {
      const double savedDiag = A[diag];
      A[diag] = 1.0;
      if (tau_data[i] != 0.0) {
        // Trim trailing zeros of v and trailing all-zero columns of the block.
        int lastv = rowsLeft;
        while (lastv > 0 && at(A, m, i + lastv - 1, i) == 0.0) {
          --lastv;
        }
        int lastc = n - i - 1;
        while (lastc > 0) {
          const int col = i + lastc;
          bool columnIsZero = true;
          for (int r = 0; r < lastv; ++r) {
            if (at(A, m, i + r, col) != 0.0) {
              columnIsZero = false;
              break;
            }
          }
          if (!columnIsZero) {
            break;
          }
          --lastc;
        }
        if (lastv > 0 && lastc > 0) {
          // work = C' * v, C being rows i .. i+lastv-1 of columns i+1 .. i+lastc: the dot
          // products of up to four columns in one pass over the rows, each summed in row order
          // from 0 and added to the cleared work entry.
          for (int c0 = 0; c0 < lastc; c0 += 4) {
            const int columns = lastc - c0 < 4 ? lastc - c0 : 4;
            double dot[4] = {0.0, 0.0, 0.0, 0.0};
            const double* v = &at(A, m, i, i);
            const double* column = &at(A, m, i, i + 1 + c0);
            for (int r = 0; r < lastv; ++r) {
              for (int c = 0; c < columns; ++c) {
                dot[c] += column[c * m + r] * v[r];
              }
            }
            for (int c = 0; c < columns; ++c) {
              work_data[c0 + c] = 0.0 + dot[c];
            }
          }
          // C := C - tau * v * work', one pass over the rows.
          double factor[kFixedColumns];
          std::vector<double> factorHeap;
          double* temp = scratchBuffer(factor, factorHeap, lastc);
          bool any = false;
          for (int c = 0; c < lastc; ++c) {
            temp[c] = -tau_data[i] * work_data[c];
            any = any || work_data[c] != 0.0;
          }
          if (any) {
            const double* v = &at(A, m, i, i);
            double* column = &at(A, m, i, i + 1);
            for (int r = 0; r < lastv; ++r) {
              for (int c = 0; c < lastc; ++c) {
                if (work_data[c] != 0.0) {
                  column[c * m + r] += v[r] * temp[c];
                }
              }
            }
          }
        }
      }
      A[diag] = savedDiag;
    }

    // Downdate the partial norms of the trailing columns by the entry now in row i.
    for (int j = i + 1; j < n; ++j) {
      if (vn1_data[j] != 0.0) {
        double temp = std::fabs(at(A, m, i, j)) / vn1_data[j];
        temp = 1.0 - temp * temp;
        if (temp < 0.0) {
          temp = 0.0;
        }
        double temp2 = vn1_data[j] / vn2_data[j];
        temp2 = temp * (temp2 * temp2);
        if (temp2 <= sqrtEps) {
          // Too much cancellation: recompute the norm of rows i+1 .. m-1 from the stored entries.
          if (i + 1 < m) {
            const double norm = blas::xnrm2(m - i - 1, A, j * m + i + 2);
            vn1_data[j] = norm;
            vn2_data[j] = norm;
          } else {
            vn1_data[j] = 0.0;
            vn2_data[j] = 0.0;
          }
        } else {
          vn1_data[j] *= std::sqrt(temp);
        }
      }
    }
  }
  return minmn;
}

}  // namespace lapack
}  // namespace internal
}  // namespace coder
