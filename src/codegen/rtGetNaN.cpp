// Getters for the quiet NaN constants, callable from C.
#include "rtGetNaN.h"

#include "rt_nonfinite.h"

extern "C" {
real_T rtGetNaN(void) {
  return rtNaN;
}
real32_T rtGetNaNF(void) {
  return rtNaNF;
}
}
