// Two doubles handled as one vector value, for the per-sample and per-row loops of the calibration
// core. Element-wise arithmetic on a pair rounds each lane exactly as the scalar operation does,
// so a loop that handles two independent values at once gives the bits of two scalar iterations.
#ifndef PAIRMATH_H
#define PAIRMATH_H

#include <cmath>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace coder {
namespace internal {

// Loads and stores through Pair need only the alignment of a double.
typedef double Pair __attribute__((vector_size(16), aligned(8), may_alias));
// The lane masks that comparisons of pairs give: all bits set where true.
typedef decltype(Pair{} > Pair{}) PairMask;

inline Pair splat(double x) {
  return Pair{x, x};
}
inline Pair loadPair(const double* p) {
  return *reinterpret_cast<const Pair*>(p);
}
inline void storePair(double* p, Pair x) {
  *reinterpret_cast<Pair*>(p) = x;
}
// mask ? a : b, lane by lane.
inline Pair select(PairMask mask, Pair a, Pair b) {
  return reinterpret_cast<Pair>((reinterpret_cast<PairMask>(a) & mask) |
                                (reinterpret_cast<PairMask>(b) & ~mask));
}
// |x| lane by lane: the sign bit cleared, as std::fabs does.
inline Pair absPair(Pair x) {
  const PairMask magnitudeBits = {INT64_MAX, INT64_MAX};
  return reinterpret_cast<Pair>(reinterpret_cast<PairMask>(x) & magnitudeBits);
}
// The correctly rounded square root lane by lane, as std::sqrt gives it: one vector instruction
// where the target has it.
inline Pair sqrtPair(Pair x) {
#ifdef __SSE2__
  return reinterpret_cast<Pair>(_mm_sqrt_pd(reinterpret_cast<__m128d>(x)));
#else
  return Pair{std::sqrt(x[0]), std::sqrt(x[1])};
#endif
}

}  // namespace internal
}  // namespace coder

#endif
