// Where a command writes: standard output, or a file that is replaced only once its new content
// is complete. Every output of a run is first checked against the run's inputs and against its
// other outputs, so that no output overwrites a recording, a calibration or another output.
#ifndef FLUXTRIM_CLI_OUTPUT_HPP
#define FLUXTRIM_CLI_OUTPUT_HPP

#include <cstdio>
#include <string>
#include <vector>

namespace fluxtrim_cli {

// A file named on the command line, with the option that named it for messages ("-o",
// "--report"; for an input, what it is: "the input", "the calibration"). "-" is standard input
// for an input and standard output for an output, as is an empty output path.
struct NamedFile {
  std::string option;
  std::string path;
};

// Throws fluxtrim::UsageError, in one line naming both, when an output is the same file as an
// input (compared by device and inode, so that "-", /dev/stdin, /dev/fd/0, a link or another path
// to the input are all found) or as another output (two paths that do not exist yet are compared
// by their resolved folder and name), or when two outputs both go to standard output. Terminals,
// /dev/null and other devices that hold no data are not compared.
void checkOutputs(const std::vector<NamedFile>& inputs, const std::vector<NamedFile>& outputs);

// An output opened for writing. Path empty or "-" is standard output, written directly. A file
// is written to a temporary file in its folder, which replaces it, with the old file's
// permissions (a new file gets those of the umask), only when close() finds every byte written;
// a device, a pipe or a terminal named by path is written directly. Until close() succeeds the
// old file is left as it was, whatever fails and however the program ends short of a kill.
class Output {
 public:
  // Throws fluxtrim::IoError, naming the path and the reason, when it cannot be written.
  explicit Output(const std::string& path);
  ~Output();  // removes the temporary file of an output not closed
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // The stream written to, for its terminal settings; text goes through write().
  std::FILE* stream() { return stream_; }
  void write(const std::string& text);
  // Whether a write has failed; close() then throws with the reason of the first failure.
  bool failed() const { return error_ != 0; }
  // Flushes and closes (standard output is flushed only) and puts the file in place. Throws
  // fluxtrim::IoError with the reason of the first write that failed, the old file kept.
  void close();

 private:
  void openTemporary(const std::string& target);
  void forget();   // the temporary file is the target now, or gone
  void discard();  // removes the temporary file
  void fail(int error);

  std::FILE* stream_ = nullptr;
  std::string name_;       // for messages: the path quoted, or "standard output"
  std::string target_;     // the file replaced by the temporary file; empty when written directly
  std::string temporary_;  // the temporary file while it exists
  int pending_ = -1;       // its entry in the list removeUnfinishedOutputs() removes
  bool ownsStream_ = false;
  int error_ = 0;  // errno of the first failure, 0 while none
};

// Removes the temporary files of the outputs not yet closed. Makes only async-signal-safe calls,
// for a signal handler that ends the program at once.
void removeUnfinishedOutputs();

}  // namespace fluxtrim_cli

#endif
