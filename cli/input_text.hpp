// What the command says about how an input was read: the columns, the unit and the kinds of line
// it took and why, and the question it asks when an input does not say which columns or lines
// are the magnetometer's.
#ifndef FLUXTRIM_CLI_INPUT_TEXT_HPP
#define FLUXTRIM_CLI_INPUT_TEXT_HPP

#include <string>

#include "fluxtrim/samples.hpp"
#include "terminal.hpp"

namespace fluxtrim_cli {

// The lines under "Input:" in the text output, each indented by two blanks and wrapped within
// kLineWidth: the columns and the unit read and why, the lines left out by kind, the reader's
// warnings.
std::string readingText(const fluxtrim::SampleSet& samples, const Style& style);

// The question for an input the reader could not choose in: a one-line message that names the
// input (the first line on standard error), and below it the candidates, one per line with their
// ranges or line counts, and the option that answers (--columns or --match).
struct Question {
  std::string message;
  std::string details;  // whole lines, escaped, each ending in a line feed
};
Question ambiguityQuestion(const fluxtrim::AmbiguousInput& error);

}  // namespace fluxtrim_cli

#endif
