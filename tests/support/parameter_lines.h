// The lines of an autopilot's parameter file as the tests read them back.
#ifndef FLUXTRIM_TESTS_PARAMETER_LINES_H
#define FLUXTRIM_TESTS_PARAMETER_LINES_H

#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace test_support {

// The cells of each line that is neither empty nor a # comment, split at separator.
inline std::vector<std::vector<std::string>> parameterLines(const std::string& text,
                                                            char separator) {
  std::vector<std::vector<std::string>> lines;
  for (const std::string& line : splitLines(text)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> cells;
    std::istringstream cellText(line);
    for (std::string cell; std::getline(cellText, cell, separator);) cells.push_back(cell);
    lines.push_back(cells);
  }
  return lines;
}

}  // namespace test_support

#endif
