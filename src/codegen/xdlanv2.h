// Standardised real Schur factorisation of a real 2-by-2 block.
#ifndef XDLANV2_H
#define XDLANV2_H

namespace coder {
namespace internal {
namespace reflapack {

// Overwrites the 2-by-2 matrix [a b; c d] by its standardised Schur form: upper triangular
// when its eigenvalues are real (c = 0), otherwise equal diagonal entries with b*c < 0. Returns
// the real part rt1r of the first eigenvalue; (rt1r, rt1i) and (rt2r, rt2i) are the two
// eigenvalues and (cs, sn) the rotation with
// [a b; c d]_in = [cs -sn; sn cs] * [a b; c d]_out * [cs sn; -sn cs]. Finite input is assumed.
double xdlanv2(double& a, double& b, double& c, double& d, double& rt1i, double& rt2r, double& rt2i,
               double& cs, double& sn);

}  // namespace reflapack
}  // namespace internal
}  // namespace coder

#endif
