// Scratch storage and element access shared by the least-squares solve and the pivoted QR
// factorisation, which both keep per-column work vectors for matrices of a few columns.
#ifndef FIXED_SCRATCH_H
#define FIXED_SCRATCH_H

#include <cstddef>
#include <vector>

#include "coder_array.h"

namespace coder {
namespace internal {

// Scratch vectors hold up to this many entries (one per column) on the stack.
constexpr int kFixedColumns = 4;

// A scratch vector of n entries: the fixed stack array when it is large enough, otherwise heap
// storage held by heap, so that wider matrices are handled without writing past the array. The
// heap entries start as T(); the fixed entries are left as they were.
template <typename T>
T* scratchBuffer(T (&fixed)[kFixedColumns], std::vector<T>& heap, int n) {
  if (n <= kFixedColumns) {
    return fixed;
  }
  heap.assign(static_cast<std::size_t>(n), T());
  return heap.data();
}

// Element (row, col), counted from 0, of the column-major matrix held in a with leading
// dimension ld. No bounds are checked.
inline double& at(coder::array<double, 2>& a, int ld, int row, int col) {
  return a[row + col * ld];
}

}  // namespace internal
}  // namespace coder

#endif
