// 3-by-3 matrices, rotations and small linear solves for the vehicle routines (accelerometer,
// mounting, planar calibration), and the check of the quasi-static samples they share; their
// vectors are vec3.hpp's. Column-vector convention: a matrix times a vector is m * v.
#ifndef FLUXTRIM_LIB_VEHICLE_MATH_HPP
#define FLUXTRIM_LIB_VEHICLE_MATH_HPP

#include <cstddef>

#include "fluxtrim/types.hpp"
#include "fluxtrim/vehicle.hpp"
#include "vec3.hpp"

namespace fluxtrim {
namespace detail {

Matrix3 identity3();
Matrix3 multiply(const Matrix3& a, const Matrix3& b);
Matrix3 transpose(const Matrix3& a);
Vec3 times(const Matrix3& m, const Vec3& v);  // m * v
double determinant(const Matrix3& a);

// The rotation by |w| radians about w / |w| (right-handed), by Rodrigues' formula; the identity
// for w = 0.
Matrix3 rotationFromVector(const Vec3& w);

// The angle of a rotation matrix, radians in [0, pi], from its trace and skew part together
// (accurate near 0 and near pi alike). r is assumed orthonormal with determinant +1.
double rotationAngle(const Matrix3& r);

// The orthogonal polar factor of a: a * (a^T a)^(-1/2), the rotation nearest to a when
// det(a) > 0. Returns false (and leaves q alone) when a^T a is singular or not finite.
bool polarFactor(const Matrix3& a, Matrix3& q);

// Solves the symmetric positive definite system a * x = b of order n <= 6 in place by Cholesky:
// a (row-major, n * n, only the lower triangle read) is overwritten by its factor and b by x.
// Returns false when a pivot is not positive (a not positive definite to working precision, or
// not finite); a and b are then undefined.
bool choleskySolve(double* a, double* b, int n);

// Throws UsageError unless steady's indices and downs are as many and every index is below
// samples (the magnetometer samples of the recording).
void checkQuasiStatic(const QuasiStatic& steady, std::size_t samples);

}  // namespace detail
}  // namespace fluxtrim

#endif
