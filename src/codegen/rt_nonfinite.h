// The non-finite constants of the calibration core, double and single precision.
#ifndef RT_NONFINITE_H
#define RT_NONFINITE_H

#include "rtwtypes.h"

// +infinity, bits 0x7FF0000000000000.
extern real_T rtInf;
// -infinity, bits 0xFFF0000000000000.
extern real_T rtMinusInf;
// Quiet NaN with the sign bit clear, bits 0x7FF8000000000000.
extern real_T rtNaN;
// +infinity in single precision, bits 0x7F800000.
extern real32_T rtInfF;
// -infinity in single precision, bits 0xFF800000.
extern real32_T rtMinusInfF;
// Quiet NaN in single precision with the sign bit clear, bits 0x7FC00000.
extern real32_T rtNaNF;

#endif
