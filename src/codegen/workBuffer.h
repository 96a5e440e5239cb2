// Uninitialised working storage for the calibration core's per-sample arrays.
#ifndef WORKBUFFER_H
#define WORKBUFFER_H

#include <cstddef>

namespace coder {
namespace internal {

// An owned block of count doubles, not initialised. A large block is aligned to 2 MiB and, where
// the system offers it, marked for huge pages: the fits touch every page of their design matrix,
// and a few large page faults cost less than many small ones. Throws std::bad_alloc when the
// memory cannot be had.
class WorkBuffer {
 public:
  explicit WorkBuffer(std::size_t count);
  ~WorkBuffer();
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;

  double* data() const { return data_; }

 private:
  double* data_;
};

}  // namespace internal
}  // namespace coder

#endif
