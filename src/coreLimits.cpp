#include "coreLimits.hpp"

// The design matrix of the general ellipsoid fit has one row per sample and ten columns.
bool sampleCountFitsCore(std::size_t rows) {
  return rows <= kMaxCoreSampleCount;
}
