// Large buffers backed by huge pages where the system offers them on request: a buffer of many
// megabytes written once, sample by sample, otherwise takes one page fault per 4 KiB, and on a
// virtual machine those faults cost more than the writing. Not installed.
#ifndef FLUXTRIM_LIB_HUGE_PAGES_HPP
#define FLUXTRIM_LIB_HUGE_PAGES_HPP

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace fluxtrim::detail {

// Asks for huge pages over the whole 2 MiB pages of [data, data + bytes) not yet written. Only a
// hint: without huge pages, or for a smaller buffer, nothing changes but the time.
inline void adviseHugePages(const void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
  if (bytes >= 2 * kHugePage && last > first) {
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
#else
  static_cast<void>(data);
  static_cast<void>(bytes);
#endif
}

// values.reserve(count), with huge pages asked for over the room reserved.
template <typename T>
void reserveLarge(std::vector<T>& values, std::size_t count) {
  values.reserve(count);
  adviseHugePages(values.data(), values.capacity() * sizeof(T));
}

}  // namespace fluxtrim::detail

#endif
