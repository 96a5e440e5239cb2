// Getters for the infinite constants, callable from C.
#ifndef RTGETINF_H
#define RTGETINF_H

#include "rtwtypes.h"

extern "C" {
// +infinity (rtInf).
real_T rtGetInf(void);
// +infinity in single precision (rtInfF).
real32_T rtGetInfF(void);
// -infinity (rtMinusInf).
real_T rtGetMinusInf(void);
// -infinity in single precision (rtMinusInfF).
real32_T rtGetMinusInfF(void);
}

#endif
