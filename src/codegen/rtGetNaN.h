// Getters for the quiet NaN constants, callable from C.
#ifndef RTGETNAN_H
#define RTGETNAN_H

#include "rtwtypes.h"

extern "C" {
// Quiet NaN, sign bit clear (rtNaN).
real_T rtGetNaN(void);
// Quiet NaN in single precision, sign bit clear (rtNaNF).
real32_T rtGetNaNF(void);
}

#endif
