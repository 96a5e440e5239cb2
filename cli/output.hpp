// Where a command writes its result: the file named with -o, or standard output.
#ifndef FLUXTRIM_CLI_OUTPUT_HPP
#define FLUXTRIM_CLI_OUTPUT_HPP

#include <cstdio>
#include <string>

namespace fluxtrim_cli {

// An output opened for writing: path empty or "-" is standard output, anything else a file that
// is created or truncated. Write errors are sticky on the stream and reported by close, so a full
// disk or a closed pipe is never taken for success.
class Output {
 public:
  // Throws fluxtrim::IoError, naming the path and the reason, when the file cannot be opened.
  explicit Output(const std::string& path);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  std::FILE* stream() { return stream_; }
  void write(const std::string& text);
  // Flushes and closes (standard output is flushed only). Throws fluxtrim::IoError when any
  // write failed.
  void close();

 private:
  std::FILE* stream_ = nullptr;
  std::string name_;  // for messages: the path, or "standard output"
  bool ownsStream_ = false;
};

}  // namespace fluxtrim_cli

#endif
