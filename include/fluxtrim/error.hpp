/// @file
/// Exceptions of the fluxtrim library. They report misuse and input that cannot be read; data that
/// is merely poor (too few samples, a wrong unit, bad coverage) is never an exception but a
/// diagnostic of the calibration result.
#ifndef FLUXTRIM_ERROR_HPP
#define FLUXTRIM_ERROR_HPP

#include <stdexcept>
#include <string>

namespace fluxtrim {

/// Base of every exception the library throws on purpose.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// An argument or option out of its domain: a latitude of 120 degrees, an unknown unit name, a
/// column that the input does not have. The message names the argument and its value.
class UsageError : public Error {
 public:
  using Error::Error;
};

/// Input that cannot be opened or read to its end. The message names the source and the reason.
class IoError : public Error {
 public:
  using Error::Error;
};

}  // namespace fluxtrim

#endif
