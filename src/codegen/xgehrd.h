// Householder reduction of a 3-by-3 matrix to upper Hessenberg form.
#ifndef XGEHRD_H
#define XGEHRD_H

namespace coder {
namespace internal {
namespace lapack {

// Reduces the column-major 3-by-3 matrix a in place to H = Q' * A * Q with Q = I - tau[0]*v*v'
// acting on rows/columns 2 and 3, v = (1, x). On return the upper Hessenberg part of a holds
// H, a(3,1) holds x and tau[0] the reflector factor; tau[1] is always 0 (a 3-by-3 matrix needs
// one reflector). Finite input is assumed.
void xgehrd(double a[9], double tau[2]);

}  // namespace lapack
}  // namespace internal
}  // namespace coder

#endif
