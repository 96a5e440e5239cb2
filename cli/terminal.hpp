// What the command shows on a terminal and only there: colour (never when NO_COLOR is set) and a
// progress line on standard error while a large input is read; plus wrapping of prose to the
// width of a terminal. Untrusted text is escaped by fluxtrim::printableText before it is echoed.
#ifndef FLUXTRIM_CLI_TERMINAL_HPP
#define FLUXTRIM_CLI_TERMINAL_HPP

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace fluxtrim_cli {

// Columns of a line of the command's prose, the line end aside: every text the command wraps
// for a person fits an 80-column terminal.
constexpr std::size_t kLineWidth = 79;

// The words of text on lines of at most width columns (a longer word stands alone), each line
// after the first starting with indent. Bytes count as columns.
std::string wrapped(const std::string& text, std::size_t width, const std::string& indent = "");

// Colour for text written to one stream: on only when the stream is a terminal, NO_COLOR is unset
// or empty, and TERM is not "dumb". Off, every function returns the text unchanged.
class Style {
 public:
  Style() = default;  // no colour: for a file
  explicit Style(std::FILE* stream);
  bool colour() const { return colour_; }
  std::string bold(const std::string& text) const { return paint("1", text); }
  std::string good(const std::string& text) const { return paint("32", text); }   // green
  std::string warn(const std::string& text) const { return paint("33", text); }   // yellow
  std::string fault(const std::string& text) const { return paint("31", text); }  // red

 private:
  std::string paint(const char* code, const std::string& text) const;
  bool colour_ = false;
};

// A progress line on standard error for reading one input, shown only when standard error is a
// terminal: first after a quarter of a second, so that short reads stay silent, then at most ten
// times a second, and erased when the reading ends (finish or destruction). One display per
// terminal: not for inputs read at the same time on several threads.
class ProgressLine {
 public:
  explicit ProgressLine(const std::string& source);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // The callback for fluxtrim::ReadOptions::progress; empty when standard error is no terminal.
  std::function<void(std::uint64_t bytesRead, std::uint64_t totalBytes)> callback();
  void finish();

 private:
  void show(std::uint64_t bytesRead, std::uint64_t totalBytes);

  bool enabled_ = false;
  std::string label_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastShown_;
  std::size_t shownWidth_ = 0;  // columns of the line on the terminal, 0 when none is shown
};

}  // namespace fluxtrim_cli

#endif
