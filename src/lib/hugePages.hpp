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

// Asks for huge pages over the whole 2 MiB pages within [data, data + bytes), so that the pages
// written later are taken 2 MiB at a time. Only a hint: without huge pages, or for a smaller
// buffer, nothing changes but the time.
inline void adviseHugePages(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::size_t kHugePage = std::size_t{1} << 21;
  const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(data) % kHugePage;
  const std::size_t skipped = misalignment == 0 ? 0 : kHugePage - misalignment;
  if (bytes >= 2 * kHugePage) {
    const std::size_t whole = (bytes - skipped) / kHugePage * kHugePage;
    ::madvise(static_cast<char*>(data) + skipped, whole, MADV_HUGEPAGE);
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
