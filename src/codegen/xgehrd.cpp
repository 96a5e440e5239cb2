// Householder reduction of a 3-by-3 matrix to upper Hessenberg form.
#include "xgehrd.h"

#include "xgemv.h"
#include "xgerc.h"
#include "xzlarfg.h"

namespace coder {
namespace internal {
namespace lapack {

namespace {

const int kOrder = 3;

// Element (row, col), both counted from 1, of a column-major 3-by-3 matrix.
inline double& at(double* a, int row, int col) {
  return a[(row - 1) + kOrder * (col - 1)];
}

// 1-based storage position of element (row, col), as the vector kernels take it.
inline int position(int row, int col) {
  return row + kOrder * (col - 1);
}

// Number of leading entries of v = (1, x) up to its last non-zero one.
inline int reflectorLength(double x) {
  return (x != 0.0) ? 2 : 1;
}

// C := C * (I - tau*v*v') for C = a(1:3, 2:3) and v = (a(2,1), a(3,1)), where a(2,1) holds the
// reflector's leading 1. Rows of C below its last non-zero row are left out (they stay zero).
void applyFromRight(double* a, double tau) {
  const int lastv = reflectorLength(at(a, 3, 1));
  int lastRow = 0;
  for (int row = kOrder; row >= 1 && lastRow == 0; --row) {
    for (int j = 1; j <= lastv; ++j) {
      if (at(a, row, j + 1) != 0.0) {
        lastRow = row;
      }
    }
  }
  // w = C * v
  double w[kOrder] = {0.0, 0.0, 0.0};
  for (int row = 1; row <= lastRow; ++row) {
    double sum = 0.0;
    for (int j = 1; j <= lastv; ++j) {
      sum += at(a, row, j + 1) * at(a, j + 1, 1);
    }
    w[row - 1] = sum;
  }
  // C := C - tau * w * v'
  for (int j = 1; j <= lastv; ++j) {
    double temp = at(a, j + 1, 1);
    if (temp != 0.0) {
      temp *= -tau;
      for (int row = 1; row <= lastRow; ++row) {
        at(a, row, j + 1) = w[row - 1] * temp + at(a, row, j + 1);
      }
    }
  }
}

// C := (I - tau*v*v') * C for C = a(2:3, 2:3) and v as above. Columns of C right of its last
// non-zero column are left out.
void applyFromLeft(double* a, double tau) {
  const int lastv = reflectorLength(at(a, 3, 1));
  int lastCol = 0;
  for (int col = 2; col >= 1 && lastCol == 0; --col) {
    for (int i = 1; i <= lastv; ++i) {
      if (at(a, i + 1, col + 1) != 0.0) {
        lastCol = col;
      }
    }
  }
  double work[kOrder] = {0.0, 0.0, 0.0};
  // work = C' * v, then C := C - tau * v * work'
  blas::xgemv(lastv, lastCol, a, position(2, 2), a, position(2, 1), work);
  blas::xgerc(lastv, lastCol, -tau, position(2, 1), work, a, position(2, 2));
}

}  // namespace

void xgehrd(double a[9], double tau[2]) {
  // Column 1: the reflector that zeroes a(3,1) against a(2,1).
  tau[0] = reflapack::xzlarfg(2, &at(a, 2, 1));
  const double beta = at(a, 2, 1);
  at(a, 2, 1) = 1.0;
  if (tau[0] != 0.0) {
    applyFromRight(a, tau[0]);
    applyFromLeft(a, tau[0]);
  }
  at(a, 2, 1) = beta;
  // Column 2: nothing lies below the subdiagonal, so the reflector is the identity.
  tau[1] = 0.0;
}

}  // namespace lapack
}  // namespace internal
}  // namespace coder
