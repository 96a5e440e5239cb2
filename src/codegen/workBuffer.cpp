// Uninitialised working storage for the calibration core's per-sample arrays.
#include "workBuffer.h"

#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace coder {
namespace internal {

namespace {

// Blocks from this size on are aligned to (and rounded up to) whole huge pages of 2 MiB.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void* allocateWork(std::size_t count, std::size_t size) {
  if (count == 0) {
    return nullptr;
  }
  if (count > (static_cast<std::size_t>(-1) - kHugePage) / size) {
    throw std::bad_alloc();
  }
  const std::size_t bytes = count * size;
  void* block = nullptr;
  if (bytes >= kHugePage) {
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    block = std::aligned_alloc(kHugePage, rounded);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (block != nullptr) {
      madvise(block, rounded, MADV_HUGEPAGE);  // a hint: without huge pages nothing changes
    }
#endif
  } else {
    block = std::malloc(bytes);
  }
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

void releaseWork(void* block) {
  std::free(block);
}

}  // namespace internal
}  // namespace coder
