// Plane rotation of two columns of a 7- or 10-row matrix held in one buffer.
#ifndef XROT_H
#define XROT_H

namespace coder {
namespace internal {
namespace blas {

// For k = 0 .. 6: (x(ix0+k), x(iy0+k)) := (c*x(ix0+k) + s*x(iy0+k), c*x(iy0+k) - s*x(ix0+k)),
// 1-based positions in the one buffer x. No bounds are checked.
void xrot(double* x, int ix0, int iy0, double c, double s);

// The same rotation on runs of 10.
void b_xrot(double* x, int ix0, int iy0, double c, double s);

}  // namespace blas
}  // namespace internal
}  // namespace coder

#endif
