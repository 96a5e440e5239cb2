// Design matrix of the general ellipsoid fit for coordinate columns of unequal lengths.
#ifndef CAT_H
#define CAT_H

#include "coder_array.h"
#include "rtwtypes.h"

// Builds the ten-column design matrix in1 = [x.^2, r.*y, r.*z, y.^2, (2y).*z, z.^2, x, y, z, 1]
// from in2 = x, in3 = r (= 2x), in4 = y and in5 = z, with in1 having as many rows as x. An operand
// of length 1 is repeated over every row; an operand whose length is neither 1 nor that of x has no
// value for a row and yields NaN there, so an inconsistent call gives a NaN design matrix.
void binary_expand_op(coder::array<double, 2>& in1, const coder::array<double, 1>& in2,
                      const coder::array<double, 1>& in3, const coder::array<double, 1>& in4,
                      const coder::array<double, 1>& in5);

#endif
