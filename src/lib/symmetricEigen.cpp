#include "symmetricEigen.hpp"

#include <cmath>
#include <utility>

namespace fluxtrim {
namespace detail {

void symmetricEigen3(const Matrix3& a, Vec3& values, Matrix3& vectors) {
  double m[3][3];
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      m[r][c] = r <= c ? a[r][c] : a[c][r];
      vectors[r][c] = r == c ? 1.0 : 0.0;
    }
  }
  const int kMaxSweeps = 32;
  for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
    const double off = std::fabs(m[0][1]) + std::fabs(m[0][2]) + std::fabs(m[1][2]);
    const double diagonal = std::fabs(m[0][0]) + std::fabs(m[1][1]) + std::fabs(m[2][2]);
    // Done when the off-diagonal part no longer changes the diagonal (or is exactly zero);
    // a NaN ends the loop too, since no comparison holds.
    if (!(off > 0.0) || diagonal + off == diagonal) {
      break;
    }
    for (int p = 0; p < 2; ++p) {
      for (int q = p + 1; q < 3; ++q) {
        const double apq = m[p][q];
        if (apq == 0.0) {
          continue;
        }
        // Rotation angle that zeroes m[p][q]: t = tan(angle), chosen as the smaller root.
        const double theta = (m[q][q] - m[p][p]) / (2.0 * apq);
        const double t =
            (theta >= 0.0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0);
        const double s = t * c;
        for (int k = 0; k < 3; ++k) {
          const double mkp = m[k][p];
          const double mkq = m[k][q];
          m[k][p] = c * mkp - s * mkq;
          m[k][q] = s * mkp + c * mkq;
        }
        for (int k = 0; k < 3; ++k) {
          const double mpk = m[p][k];
          const double mqk = m[q][k];
          m[p][k] = c * mpk - s * mqk;
          m[q][k] = s * mpk + c * mqk;
        }
        m[p][q] = 0.0;
        m[q][p] = 0.0;
        for (int k = 0; k < 3; ++k) {
          const double vkp = vectors[k][p];
          const double vkq = vectors[k][q];
          vectors[k][p] = c * vkp - s * vkq;
          vectors[k][q] = s * vkp + c * vkq;
        }
      }
    }
  }
  for (int k = 0; k < 3; ++k) {
    values[k] = m[k][k];
  }
  // Ascending order by selection; the vectors follow their values.
  for (int i = 0; i < 2; ++i) {
    int smallest = i;
    for (int j = i + 1; j < 3; ++j) {
      if (values[j] < values[smallest]) {
        smallest = j;
      }
    }
    if (smallest != i) {
      std::swap(values[i], values[smallest]);
      for (int r = 0; r < 3; ++r) {
        std::swap(vectors[r][i], vectors[r][smallest]);
      }
    }
  }
}

}  // namespace detail
}  // namespace fluxtrim
