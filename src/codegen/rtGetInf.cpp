// Getters for the infinite constants, callable from C.
#include "rtGetInf.h"

#include "rt_nonfinite.h"

extern "C" {
real_T rtGetInf(void) {
  return rtInf;
}
real32_T rtGetInfF(void) {
  return rtInfF;
}
real_T rtGetMinusInf(void) {
  return rtMinusInf;
}
real32_T rtGetMinusInfF(void) {
  return rtMinusInfF;
}
}
