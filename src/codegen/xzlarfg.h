// Generation of an elementary Householder reflector of order at most 3.
#ifndef XZLARFG_H
#define XZLARFG_H

namespace coder {
namespace internal {
namespace reflapack {

// Builds H = I - tau * w * w' with w = (1, x) such that H * (alpha, x) = (beta, 0), for the
// vector v = (alpha, x) of order n (1, 2 or 3) held in v[0 .. n-1]: on return v[0] holds beta
// and v[1 .. n-1] the scaled x; returns tau (0 when x is empty or zero, and H = I). Values
// below 2^-970 are rescaled first. Nothing is checked.
double xzlarfg(int n, double* v);

}  // namespace reflapack
}  // namespace internal
}  // namespace coder

#endif
