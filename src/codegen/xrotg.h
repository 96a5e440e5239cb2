// Construction of a Givens plane rotation.
#ifndef XROTG_H
#define XROTG_H

namespace coder {
namespace internal {
namespace blas {

// Finds c, s with [c s; -s c] * [a; b] = [r; 0] and returns c. On return a = r, which carries the
// sign of the input of larger magnitude (of b on ties), s is written and b holds the
// reconstruction value z (s when |a| > |b|, else 1/c, or 1 when c == 0). a = b = 0 gives c = 1,
// s = 0, a = b = 0. NaN inputs propagate.
double xrotg(double& a, double& b, double& s);

}  // namespace blas
}  // namespace internal
}  // namespace coder

#endif
