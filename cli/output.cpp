// Output to a file or to standard output, with every write error reported.
#include "output.hpp"

#include <cerrno>
#include <cstring>

#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "terminal.hpp"

namespace fluxtrim_cli {

Output::Output(const std::string& path) {
  if (path.empty() || path == "-") {
    stream_ = stdout;
    name_ = "standard output";
    return;
  }
  name_ = "'" + fluxtrim::printableText(path, 120) + "'";
  stream_ = std::fopen(path.c_str(), "w");
  if (stream_ == nullptr) {
    throw fluxtrim::IoError("cannot open " + name_ + " for writing: " + std::strerror(errno));
  }
  ownsStream_ = true;
}

Output::~Output() {
  if (ownsStream_ && stream_ != nullptr) std::fclose(stream_);
}

void Output::write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream_);
}

void Output::close() {
  errno = 0;
  bool failed = std::fflush(stream_) != 0 || std::ferror(stream_) != 0;
  int error = errno;
  if (ownsStream_) {
    failed = std::fclose(stream_) != 0 || failed;
    if (error == 0) error = errno;
    stream_ = nullptr;
  }
  if (failed) {
    throw fluxtrim::IoError("cannot write " + name_ +
                            (error != 0 ? std::string(": ") + std::strerror(error) : ""));
  }
}

}  // namespace fluxtrim_cli
