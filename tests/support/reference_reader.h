// The straightforward CSV reader, kept as the reference the fast reader (src/csvColumns) is
// compared with: the whole text in memory, one line at a time, each cell copied into a string and
// converted by std::stod. Same contract as csvcolumns::read, on bytes instead of a file.
#ifndef FLUXTRIM_TESTS_REFERENCE_READER_H
#define FLUXTRIM_TESTS_REFERENCE_READER_H

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "printable.hpp"

namespace reference_reader {

constexpr std::size_t kMaxMessages = 40;

// The messages in file order, the first kMaxMessages kept whole.
class MessageLog {
 public:
  explicit MessageLog(std::string& text) : text_(text) {}
  void add(const std::string& message) {
    if (count_++ < kMaxMessages) {
      text_ += message;
    }
  }
  void finish() {
    if (count_ > kMaxMessages) {
      text_ += "(" + std::to_string(count_ - kMaxMessages) + " more messages not shown)\n";
    }
  }

 private:
  std::string& text_;
  std::size_t count_ = 0;
};

// White space as strtod skips it in the "C" locale.
inline bool isBlankByte(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Parses one line, [first, last) without its line end, into row `row`: the first three
// comma-separated cells (a comma with nothing after it ends the cells), each converted as
// std::stod converts it. Returns whether all three converted.
inline bool parseLine(const char* first, const char* last, std::size_t row,
                      std::array<std::vector<double>, 3>& columns, MessageLog& log) {
  int cells = 0;
  int converted = 0;
  const char* cell = first;
  while (cells < 3 && cell != last) {
    const char* const comma = std::find(cell, last, ',');
    const std::string word(cell, comma);
    try {
      columns[cells][row] = std::stod(word);
      ++converted;
    } catch (const std::invalid_argument&) {
      log.add("Header : " + printableText(cell, comma) + "\n");
    } catch (const std::out_of_range&) {
      log.add("Header : " + printableText(cell, comma) + "\n");
    }
    ++cells;
    cell = comma == last ? last : comma + 1;
  }
  if (cells < 3 && !std::all_of(first, last, isBlankByte)) {
    log.add("Line " + std::to_string(row + 1) +
            " : fewer than 3 comma-separated cells : " + printableText(first, last) + "\n");
  }
  return converted == 3;
}

// Parses the whole text: one row per line, the lines being separated by newline characters, so
// that there is one row more than there are newlines. A carriage return that ends a line belongs
// to its line end. Rows below the columns' previous length keep their values where a cell does
// not convert; new rows start at 0.
inline void parseText(const char* data, std::size_t size,
                      std::array<std::vector<double>, 3>& columns,
                      std::vector<std::uint8_t>& complete, std::string& messages) {
  const char* const end = data + size;
  const std::size_t rows = static_cast<std::size_t>(std::count(data, end, '\n')) + 1;
  for (std::vector<double>& column : columns) {
    column.resize(rows);
  }
  complete.assign(rows, 0);
  MessageLog log(messages);
  const char* line = data;
  for (std::size_t row = 0; row < rows; ++row) {
    const char* const lineEnd = std::find(line, end, '\n');
    const char* textEnd = lineEnd;
    if (textEnd != line && textEnd[-1] == '\r') {
      --textEnd;
    }
    complete[row] = parseLine(line, textEnd, row, columns, log) ? 1 : 0;
    if (lineEnd != end) {
      line = lineEnd + 1;
    }
  }
  log.finish();
}

}  // namespace reference_reader

#endif
