#include "cat.h"

#include "coder_array.h"
#include "rt_nonfinite.h"

namespace {

// Value of operand v on row i of a matrix of rows rows, by implicit expansion: a single value is
// repeated on every row, a full column gives its own entry, and any other length has no entry for
// the row (NaN).
inline double expandedAt(const coder::array<double, 1>& v, int i, int rows) {
  const int length = v.size(0);
  if (length == rows) {
    return v[i];
  }
  if (length == 1) {
    return v[0];
  }
  return rtNaN;
}

}  // namespace

// Each column is formed with the same products as the equal-length path of the general ellipsoid
// fit: r * y, r * z and (y + y) * z, so equal-length inputs give identical bits.
void binary_expand_op(coder::array<double, 2>& in1, const coder::array<double, 1>& in2,
                      const coder::array<double, 1>& in3, const coder::array<double, 1>& in4,
                      const coder::array<double, 1>& in5) {
  const coder::array<double, 1>& x = in2;
  const coder::array<double, 1>& r = in3;
  const coder::array<double, 1>& y = in4;
  const coder::array<double, 1>& z = in5;
  const int rows = x.size(0);
  in1.set_size(rows, 10);
  double* column[10];
  for (int c = 0; c < 10; ++c) {
    column[c] = in1.data() + static_cast<long>(c) * rows;
  }
  for (int i = 0; i < rows; ++i) {
    const double xi = x[i];
    const double ri = expandedAt(r, i, rows);
    const double yi = expandedAt(y, i, rows);
    const double zi = expandedAt(z, i, rows);
    column[0][i] = xi * xi;
    column[1][i] = ri * yi;
    column[2][i] = ri * zi;
    column[3][i] = yi * yi;
    column[4][i] = (yi + yi) * zi;
    column[5][i] = zi * zi;
    column[6][i] = xi;
    column[7][i] = yi;
    column[8][i] = zi;
    column[9][i] = 1.0;
  }
}
