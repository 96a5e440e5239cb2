// Uninitialised working storage for the calibration core's per-sample arrays.
#ifndef WORKBUFFER_H
#define WORKBUFFER_H

#include <cstddef>

namespace coder {
namespace internal {

// The storage behind WorkBuffer: count elements of size bytes each (null for none), released with
// releaseWork.
void* allocateWork(std::size_t count, std::size_t size);
void releaseWork(void* block);

// An owned block of count values of T (a plain type such as double or unsigned char), not
// initialised. A large block is aligned to 2 MiB and, where the system offers it, marked for huge
// pages: the core touches every page of its per-sample arrays, and a few large page faults cost
// far less than many small ones. Throws std::bad_alloc when the memory cannot be had.
template <typename T>
class WorkBuffer {
 public:
  explicit WorkBuffer(std::size_t count) : data_(static_cast<T*>(allocateWork(count, sizeof(T)))) {}
  ~WorkBuffer() { releaseWork(data_); }
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;

  T* data() const { return data_; }

 private:
  T* data_;
};

}  // namespace internal
}  // namespace coder

#endif
