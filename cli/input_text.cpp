// How an input was read, and the question when the reader could not choose.
#include "input_text.hpp"

#include "fluxtrim/text.hpp"

namespace fluxtrim_cli {

namespace {

std::string indented(const std::string& text) {
  return "  " + wrapped(text, kLineWidth - 2, "    ") + "\n";
}

}  // namespace

std::string readingText(const fluxtrim::SampleSet& samples, const Style& style) {
  const fluxtrim::ReadSummary& s = samples.summary;
  std::string text = indented(fluxtrim::readChoiceText(samples));
  const std::string kinds = fluxtrim::lineKindsText(s);
  if (!kinds.empty()) text += indented("lines: " + kinds);
  for (const std::string& warning : s.warnings) {
    // The first line holds the 11 columns of "  warning: " before the text.
    text += "  " + style.warn("warning:") + " " + wrapped(warning, kLineWidth - 11, "    ") + "\n";
  }
  return text;
}

Question ambiguityQuestion(const fluxtrim::AmbiguousInput& error) {
  const std::string& inputName = error.source();
  Question question;
  if (!error.kinds().empty()) {
    question.message = inputName + ": which lines are the magnetometer's? " +
                       std::to_string(error.kinds().size()) + " kinds of line, and " +
                       "nothing tells which";
    for (const fluxtrim::LineKind& kind : error.kinds()) {
      question.details +=
          fluxtrim::formatText("  %8llu ", static_cast<unsigned long long>(kind.lines)) +
          fluxtrim::lineKindText(kind) + "\n";
    }
    question.details += "  keep one kind with --match TEXT, a text only its lines hold\n";
    return question;
  }
  question.message = inputName + ": which columns are the magnetometer's X, Y and Z? " +
                     std::to_string(error.columns().size()) +
                     " numeric columns, and nothing names them";
  for (const fluxtrim::AmbiguousInput::Column& c : error.columns()) {
    question.details += fluxtrim::formatText("  column %d", c.index + 1) +
                        (c.name.empty() ? "" : " '" + c.name + "'") +
                        fluxtrim::formatText(": %.6g to %.6g", c.min, c.max) +
                        (c.time ? ", a time stamp or counter" : "") +
                        (c.constant ? ", never changes" : "") + "\n";
  }
  question.details += "  give them with --columns X,Y,Z: three numbers from 1, or header names\n";
  return question;
}

}  // namespace fluxtrim_cli
