// Scalar type names of the calibration core.
#ifndef RTWTYPES_H
#define RTWTYPES_H

#include <cstdint>

typedef double real_T;
typedef double real64_T;
typedef float real32_T;
typedef bool boolean_T;
typedef std::int8_t int8_T;
typedef std::int32_t int32_T;
typedef std::uint8_t uint8_T;

// A complex double: real part first, then imaginary part.
struct creal_T {
  double re;
  double im;
};

#endif
