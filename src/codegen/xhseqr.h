// Real Schur form of a 3-by-3 upper Hessenberg matrix.
#ifndef XHSEQR_H
#define XHSEQR_H

namespace coder {
namespace internal {
namespace lapack {

// Reduces the column-major upper Hessenberg 3-by-3 matrix h in place to real Schur form T
// (1-by-1 blocks and standardised 2-by-2 blocks) by double-shift QR sweeps, and multiplies z on
// the right by the orthogonal transformations (z := z * Qs); h(3,1) is ignored and set to 0.
// Returns 0, or the 1-based last row of a block that did not converge in 301 sweeps (h and z
// then hold the partial reduction). Finite input is assumed.
int xhseqr(double h[9], double z[9]);

}  // namespace lapack
}  // namespace internal
}  // namespace coder

#endif
