// Exchange of two columns of a 7- or 10-row matrix held in one buffer.
#ifndef XSWAP_H
#define XSWAP_H

namespace coder {
namespace internal {
namespace blas {

// Exchanges x(ix0+k) and x(iy0+k) for k = 0 .. 6 (1-based positions). No bounds are checked.
void xswap(double* x, int ix0, int iy0);

// The same exchange on runs of 10.
void b_xswap(double* x, int ix0, int iy0);

}  // namespace blas
}  // namespace internal
}  // namespace coder

#endif
