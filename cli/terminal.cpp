// Colour, progress, escaping and wrapping for the terminal.
#include "terminal.hpp"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "fluxtrim/text.hpp"

namespace fluxtrim_cli {

std::string wrapped(const std::string& text, std::size_t width, const std::string& indent) {
  std::string out;
  std::size_t column = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t blank = text.find(' ', start);
    const std::size_t end = blank == std::string::npos ? text.size() : blank;
    if (end > start) {
      const std::size_t length = end - start;
      if (column > 0 && column + 1 + length > width) {
        out += "\n" + indent;
        column = indent.size();
      } else if (column > 0) {
        out += ' ';
        ++column;
      }
      out.append(text, start, length);
      column += length;
    }
    start = end + 1;
  }
  return out;
}

Style::Style(std::FILE* stream) {
  const char* noColour = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  colour_ = isatty(fileno(stream)) == 1 && (noColour == nullptr || noColour[0] == '\0') &&
            !(term != nullptr && std::strcmp(term, "dumb") == 0);
}

std::string Style::paint(const char* code, const std::string& text) const {
  if (!colour_) return text;
  return std::string("\x1b[") + code + "m" + text + "\x1b[0m";
}

ProgressLine::ProgressLine(const std::string& source)
    : enabled_(isatty(STDERR_FILENO) == 1),
      label_("reading " + fluxtrim::printableText(source == "-" ? "standard input" : source, 40)),
      start_(std::chrono::steady_clock::now()),
      lastShown_(start_) {}

ProgressLine::~ProgressLine() {
  finish();
}

std::function<void(std::uint64_t, std::uint64_t)> ProgressLine::callback() {
  if (!enabled_) return {};
  return [this](std::uint64_t bytesRead, std::uint64_t totalBytes) { show(bytesRead, totalBytes); };
}

void ProgressLine::show(std::uint64_t bytesRead, std::uint64_t totalBytes) {
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < std::chrono::milliseconds(250) ||
      (shownWidth_ > 0 && now - lastShown_ < std::chrono::milliseconds(100))) {
    return;
  }
  lastShown_ = now;
  const double megabyte = 1e6;
  char figures[64];
  if (totalBytes > 0) {
    std::snprintf(figures, sizeof figures, "%3.0f %% of %.1f MB",
                  100.0 * static_cast<double>(bytesRead) / static_cast<double>(totalBytes),
                  static_cast<double>(totalBytes) / megabyte);
  } else {
    std::snprintf(figures, sizeof figures, "%.1f MB", static_cast<double>(bytesRead) / megabyte);
  }
  const std::string line = label_ + ": " + figures;
  // Blanks over whatever of the previous line the new one does not cover.
  const std::size_t pad = shownWidth_ > line.size() ? shownWidth_ - line.size() : 0;
  std::fprintf(stderr, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
  std::fflush(stderr);
  shownWidth_ = line.size() + pad;
}

void ProgressLine::finish() {
  if (shownWidth_ == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(shownWidth_), "");
  std::fflush(stderr);
  shownWidth_ = 0;
}

}  // namespace fluxtrim_cli
