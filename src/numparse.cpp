#include "numparse.hpp"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace numparse {

Status toDouble(const char* first, const char* last, double& value, const char** end) {
  // strtod needs a terminated string: a copy of the text.
  const std::string text(first, last);
  char* stop = nullptr;
  const int savedErrno = errno;
  errno = 0;
  value = std::strtod(text.c_str(), &stop);
  const bool rangeError = errno == ERANGE;
  errno = savedErrno;
  if (end != nullptr) {
    *end = first + (stop - text.c_str());
  }
  if (stop == text.c_str()) {
    return Status::NoNumber;
  }
  return rangeError ? Status::OutOfRange : Status::Ok;
}

}  // namespace numparse
