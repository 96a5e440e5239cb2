// Runs the fast reader (csvcolumns::read, through a file) and the reference reader (in memory) on
// the same bytes, from the same previous column contents, and tells where they differ: the column
// values bit for bit, the complete-row mask, the messages byte for byte. Shared by the differential
// test and the reader fuzz target.
#ifndef FLUXTRIM_TESTS_READER_COMPARISON_H
#define FLUXTRIM_TESTS_READER_COMPARISON_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "csvColumns.hpp"
#include "reference_reader.h"

namespace reader_comparison {

struct Outcome {
  csvcolumns::Columns columns;
  std::vector<std::uint8_t> complete;
  std::string messages;
};

// Empty when the two outcomes agree, else the first difference.
inline std::string difference(const Outcome& fast, const Outcome& reference) {
  for (int c = 0; c < 3; ++c) {
    const std::vector<double>& a = fast.columns[c];
    const std::vector<double>& b = reference.columns[c];
    if (a.size() != b.size()) {
      return "column " + std::to_string(c) + " has " + std::to_string(a.size()) + " rows, not " +
             std::to_string(b.size());
    }
    for (std::size_t k = 0; k < a.size(); ++k) {
      if (std::memcmp(&a[k], &b[k], sizeof(double)) != 0) {
        return "column " + std::to_string(c) + ", row " + std::to_string(k) + ": " +
               std::to_string(a[k]) + " instead of " + std::to_string(b[k]);
      }
    }
  }
  if (fast.complete != reference.complete) {
    return "complete-row mask";
  }
  if (fast.messages != reference.messages) {
    return "messages:\n" + fast.messages + "instead of:\n" + reference.messages;
  }
  return "";
}

// Writes bytes to path, reads them back with the fast reader and the options, and compares with
// the reference reader, both starting from previous as the columns' earlier content.
inline std::string compare(const std::string& path, const std::string& bytes,
                           const csvcolumns::Columns& previous,
                           const csvcolumns::Options& options) {
  Outcome reference{previous, {}, {}};
  reference_reader::parseText(bytes.data(), bytes.size(), reference.columns, reference.complete,
                              reference.messages);

  const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0 || ::write(out, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
      ::close(out) != 0) {
    return "cannot write " + path;
  }
  const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    return "cannot open " + path;
  }
  Outcome fast{previous, {}, {}};
  csvcolumns::read(in, bytes.size(), fast.columns, fast.complete, fast.messages, options);
  ::close(in);
  return difference(fast, reference);
}

}  // namespace reader_comparison

#endif
