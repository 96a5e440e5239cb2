// Size limit that the calibration core can index.
#ifndef CORE_LIMITS_HPP
#define CORE_LIMITS_HPP

#include <cstddef>

// Largest sample count the core accepts: it indexes its arrays with int, and its largest array,
// the ten-column design matrix of the general ellipsoid fit, must stay within 2147483647
// (the largest int) elements. 2147483647 / 10 = 214748364.
inline constexpr std::size_t kMaxCoreSampleCount = 2147483647 / 10;

// Whether `rows` samples (rows of the N-by-3 sample matrix, zero rows of the header and final
// newline included) can be handed to the calibration core without its int indices overflowing.
bool sampleCountFitsCore(std::size_t rows);

#endif
