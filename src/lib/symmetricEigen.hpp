// Eigen-decomposition of small symmetric matrices.
#ifndef FLUXTRIM_LIB_SYMMETRIC_EIGEN_HPP
#define FLUXTRIM_LIB_SYMMETRIC_EIGEN_HPP

#include "fluxtrim/types.hpp"

namespace fluxtrim {
namespace detail {

// Eigenvalues of the symmetric 3-by-3 matrix a, ascending, and unit eigenvectors as the columns
// of vectors (vectors[r][k] is component r of the k-th vector), by cyclic Jacobi rotations until
// the off-diagonal part vanishes against the diagonal, at most 32 sweeps. Only the upper triangle
// of a is read. Deterministic; a NaN element gives NaN results.
void symmetricEigen3(const Matrix3& a, Vec3& values, Matrix3& vectors);

}  // namespace detail
}  // namespace fluxtrim

#endif
