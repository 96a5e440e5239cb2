// Principal square root of a complex number.
#ifndef SQRT_H
#define SQRT_H

#include "rtwtypes.h"

namespace coder {

// Replaces x by its principal square root (non-negative real part; a negative real x, whatever
// the sign of its zero imaginary part, gives +i times the root of its magnitude). Scales inputs
// near the largest double so that nothing overflows; a NaN part gives NaN + NaN i.
void b_sqrt(creal_T& x);

}  // namespace coder

#endif
