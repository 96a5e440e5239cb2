#include "fluxtrim/samples.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <istream>
#include <memory>
#include <new>
#include <streambuf>
#include <string_view>
#include <system_error>
#include <utility>

#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "sampleLayout.hpp"

namespace fluxtrim {

namespace {

using detail::Cell;
using detail::CellKind;

// The one read buffer: lines are examined in it, so it is also the longest line examined whole.
constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
// Bytes read between two calls of the progress callback.
constexpr std::uint64_t kProgressBytes = std::uint64_t{4} << 20;

std::string describeSource(const std::string& source) {
  if (source == "-") {
    return "standard input";
  }
  return "'" + printableText(source, 4096) + "'";
}

std::string errnoText(int error) {
  return std::system_category().message(error);
}

// A source of bytes, read front to back once.
class Input {
 public:
  virtual ~Input() = default;
  // Reads up to size bytes into buffer and returns their number, 0 at the end of the input.
  // bytesSoFar is only used in messages. Throws IoError when the input cannot be read.
  virtual std::size_t read(char* buffer, std::size_t size, std::uint64_t bytesSoFar) = 0;
  // The bytes the input holds, 0 when unknown.
  std::uint64_t totalBytes() const { return totalBytes_; }

 protected:
  std::uint64_t totalBytes_ = 0;
};

// A file opened once by path, or file descriptor 0 for "-". With an interruption hook, the bytes
// after the last line end are held back until more arrive, so that an input ended by the hook
// never ends in a cut line.
class FileInput final : public Input {
 public:
  FileInput(const std::string& path, const std::string& name, std::function<bool()> interrupted)
      : name_(name), interrupted_(std::move(interrupted)) {
    if (path == "-") {
      fd_ = STDIN_FILENO;
    } else {
      do {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      } while (fd_ < 0 && errno == EINTR);
      if (fd_ < 0) {
        throw IoError("cannot open " + name_ + ": " + errnoText(errno));
      }
      owned_ = true;
    }
    struct stat status;
    if (::fstat(fd_, &status) != 0) {
      const int error = errno;
      release();
      throw IoError("cannot read " + name_ + ": " + errnoText(error));
    }
    if (S_ISDIR(status.st_mode)) {
      release();
      throw IoError("cannot read " + name_ + ": it is a directory");
    }
    if (S_ISREG(status.st_mode)) {
      const off_t position = ::lseek(fd_, 0, SEEK_CUR);
      if (position >= 0 && position <= status.st_size) {
        totalBytes_ = static_cast<std::uint64_t>(status.st_size - position);
      }
      ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
  }
  ~FileInput() override { release(); }
  FileInput(const FileInput&) = delete;
  FileInput& operator=(const FileInput&) = delete;

  std::size_t read(char* buffer, std::size_t size, std::uint64_t bytesSoFar) override {
    if (!interrupted_) {
      return readSome(buffer, size, bytesSoFar);
    }
    const std::size_t held = std::min(size, held_.size());
    std::memcpy(buffer, held_.data(), held);
    held_.erase(0, held);
    if (held == size) {
      return held;
    }
    for (std::size_t filled = held;;) {
      const std::size_t got = readSome(buffer + filled, size - filled, bytesSoFar);
      if (got == 0) {
        // The end of the input, or the end asked for: the incomplete line is dropped only then.
        return interrupted_() ? 0 : filled;
      }
      const std::size_t before = filled;  // no line end before: the held bytes have none
      filled += got;
      std::size_t complete = filled;
      while (complete > before && buffer[complete - 1] != '\n' && buffer[complete - 1] != '\r') {
        --complete;
      }
      if (complete > before || filled == size) {
        const std::size_t delivered = complete > before ? complete : filled;
        held_.assign(buffer + delivered, filled - delivered);
        return delivered;
      }
    }
  }

 private:
  // Up to size bytes, 0 at the end of the input or when the interruption hook says so.
  std::size_t readSome(char* buffer, std::size_t size, std::uint64_t bytesSoFar) {
    for (;;) {
      if (interrupted_ && interrupted_()) {
        return 0;
      }
      const ssize_t got = ::read(fd_, buffer, size);
      if (got >= 0) {
        return static_cast<std::size_t>(got);
      }
      if (errno != EINTR) {
        throw IoError("read error in " + name_ + " after " + std::to_string(bytesSoFar) +
                      " bytes: " + errnoText(errno));
      }
    }
  }

  void release() {
    if (owned_) {
      ::close(fd_);
      owned_ = false;
    }
  }

  std::string name_;
  int fd_ = -1;
  bool owned_ = false;
  std::function<bool()> interrupted_;
  std::string held_;  // read, not yet delivered: the start of a line without its end
};

// An open stream, read through its buffer so that its state flags and exception mask stay as
// the caller set them.
class StreamInput final : public Input {
 public:
  StreamInput(std::istream& in, const std::string& name) : buffer_(in.rdbuf()), name_(name) {
    if (in.fail() || buffer_ == nullptr) {
      throw IoError("cannot read " + name_ + ": the stream has already failed");
    }
  }

  std::size_t read(char* buffer, std::size_t size, std::uint64_t bytesSoFar) override {
    std::streamsize got = 0;
    try {
      got = buffer_->sgetn(buffer, static_cast<std::streamsize>(size));
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& error) {
      throw IoError("read error in " + name_ + " after " + std::to_string(bytesSoFar) +
                    " bytes: " + error.what());
    }
    return got > 0 ? static_cast<std::size_t>(got) : 0;
  }

 private:
  std::streambuf* buffer_;
  std::string name_;
};

// The samples and their line numbers as they are read: first straight into the result's
// vectors; then, once the first buffer is read, either still there, reserved ahead for an input
// of known size, or in fixed blocks copied into vectors of the exact size at the end. Memory thus
// never holds more than twice the samples, where vector growth alone would hold three times.
class SampleStore {
 public:
  void expect(std::size_t count) {
    values_.reserve(count);
    lines_.reserve(count);
  }
  void useBlocks() { blocks_ = true; }

  void add(const Vec3& value, std::uint64_t line) {
    if (!blocks_) {
      values_.push_back(value);
      lines_.push_back(line);
      return;
    }
    if (filled_.empty() || used_ == kBlockSamples) {
      filled_.emplace_back(new Block);  // uninitialised: every element used is written
      used_ = 0;
    }
    filled_.back()->values[used_] = value;
    filled_.back()->lines[used_] = line;
    ++used_;
  }

  void moveTo(SampleSet& set) {
    if (!filled_.empty()) {
      const std::size_t count = values_.size() + (filled_.size() - 1) * kBlockSamples + used_;
      values_.reserve(count);
      lines_.reserve(count);
      for (std::size_t b = 0; b < filled_.size(); ++b) {
        const std::size_t used = b + 1 == filled_.size() ? used_ : kBlockSamples;
        values_.insert(values_.end(), filled_[b]->values, filled_[b]->values + used);
        lines_.insert(lines_.end(), filled_[b]->lines, filled_[b]->lines + used);
        filled_[b].reset();
      }
      filled_.clear();
    }
    set.values = std::move(values_);
    set.lineNumbers = std::move(lines_);
  }

 private:
  static constexpr std::size_t kBlockSamples = 65536;
  struct Block {
    Vec3 values[kBlockSamples];
    std::uint64_t lines[kBlockSamples];
  };

  bool blocks_ = false;
  std::vector<Vec3> values_;
  std::vector<std::uint64_t> lines_;
  std::vector<std::unique_ptr<Block>> filled_;
  std::size_t used_ = 0;  // samples in the last block
};

class Reader {
 public:
  Reader(Input& input, const ReadOptions& options, const std::string& name, SampleSet& set)
      : input_(input), options_(options), name_(name), set_(set), summary_(set.summary) {}

  void run() {
    buffer_.reset(new char[kBufferBytes]);
    while (end_ < kBufferBytes && !atEnd_) {
      readMore();
    }
    startText();
    layout_ = detail::chooseLayout(firstLines(), options_, name_);
    summary_.delimiter = layout_.delimiter;
    summary_.columns = layout_.columns;
    summary_.columnRule = layout_.columnRule;
    summary_.header = layout_.header;
    for (const int column : layout_.columns) {
      maxColumn_ = std::max(maxColumn_, column);
    }
    separator_ = layout_.delimiter == Delimiter::Semicolon ? ';'
                 : layout_.delimiter == Delimiter::Tab     ? '\t'
                                                           : ',';

    for (bool first = true;; first = false) {
      handleCompleteLines();
      if (first && !atEnd_) {
        chooseStore();
      }
      if (atEnd_) {
        if (pos_ < end_) {
          handleLine(buffer_.get() + pos_, buffer_.get() + end_, false);
        }
        break;
      }
      if (pos_ == 0 && end_ == kBufferBytes) {
        handleLine(buffer_.get(), buffer_.get() + end_, true);
        skipRestOfLine();
        continue;
      }
      std::memmove(buffer_.get(), buffer_.get() + pos_, end_ - pos_);
      end_ -= pos_;
      pos_ = 0;
      readMore();
    }
    if (options_.progress) {
      options_.progress(summary_.bytes, input_.totalBytes());
    }
    checkIndicesReached();
    store_.moveTo(set_);
  }

 private:
  void readMore() {
    const std::size_t got = input_.read(buffer_.get() + end_, kBufferBytes - end_, summary_.bytes);
    atEnd_ = got == 0;
    end_ += got;
    summary_.bytes += got;
    if (options_.progress && summary_.bytes - reportedBytes_ >= kProgressBytes) {
      reportedBytes_ = summary_.bytes;
      options_.progress(summary_.bytes, input_.totalBytes());
    }
  }

  // The byte order mark and the line end, from the first buffer.
  void startText() {
    const unsigned char* text = reinterpret_cast<const unsigned char*>(buffer_.get());
    if (end_ >= 2 &&
        ((text[0] == 0xFF && text[1] == 0xFE) || (text[0] == 0xFE && text[1] == 0xFF))) {
      throw IoError("cannot read " + name_ + ": it is UTF-16 text; save it as UTF-8 or ASCII");
    }
    if (end_ >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) {
      pos_ = 3;
    }
    const char* first = buffer_.get() + pos_;
    const std::size_t size = end_ - pos_;
    if (std::memchr(first, '\n', size) == nullptr && std::memchr(first, '\r', size) != nullptr) {
      lineEnd_ = '\r';
    }
  }

  // The line [first, last) without a carriage return before its line feed.
  const char* contentEnd(const char* first, const char* last) const {
    return lineEnd_ == '\n' && last != first && last[-1] == '\r' ? last - 1 : last;
  }

  // The first lines that are not blank, in the first buffer: complete lines only, up to
  // kFirstLineCount that are not comments.
  std::vector<detail::FirstLine> firstLines() const {
    std::vector<detail::FirstLine> lines;
    std::size_t content = 0;
    const char* p = buffer_.get() + pos_;
    const char* const end = buffer_.get() + end_;
    while (p != end && content < detail::kFirstLineCount) {
      const char* lineEnd = static_cast<const char*>(std::memchr(p, lineEnd_, end - p));
      if (lineEnd == nullptr && !atEnd_) {
        break;
      }
      const char* const last = contentEnd(p, lineEnd != nullptr ? lineEnd : end);
      const char* text = p;
      while (text != last && detail::isBlank(*text)) {
        ++text;
      }
      if (text != last) {
        const bool comment = *text == '#';
        lines.push_back(detail::FirstLine{p, last, comment});
        content += comment ? 0 : 1;
      }
      p = lineEnd != nullptr ? lineEnd + 1 : end;
    }
    return lines;
  }

  void handleCompleteLines() {
    const char* const base = buffer_.get();
    for (;;) {
      const char* const first = base + pos_;
      const void* found = std::memchr(first, lineEnd_, end_ - pos_);
      if (found == nullptr) {
        return;
      }
      const char* const last = static_cast<const char*>(found);
      handleLine(first, last, false);
      pos_ = static_cast<std::size_t>(last + 1 - base);
    }
  }

  // Discards the rest of a line longer than the buffer, up to and with its line end.
  void skipRestOfLine() {
    pos_ = 0;
    end_ = 0;
    while (!atEnd_) {
      readMore();
      const void* found = std::memchr(buffer_.get(), lineEnd_, end_);
      if (found != nullptr) {
        pos_ = static_cast<std::size_t>(static_cast<const char*>(found) + 1 - buffer_.get());
        return;
      }
      end_ = 0;
    }
  }

  // After the first buffer: an input of known size has its result reserved from the samples per
  // byte of that buffer, with a little to spare (reserved memory never written costs nothing);
  // any other keeps its samples in blocks.
  void chooseStore() {
    const std::uint64_t total = input_.totalBytes();
    const std::uint64_t samples = summary_.sampleLines;
    const std::uint64_t consumed = pos_;
    if (total <= consumed || samples == 0) {
      store_.useBlocks();
      return;
    }
    // A sample line has at least six bytes: "1,2,3" and a line end.
    const double estimate = static_cast<double>(samples) * static_cast<double>(total) /
                                static_cast<double>(consumed) * 1.0625 +
                            1024.0;
    const std::uint64_t mostLines = total / 6 + 1;  // whole lines of six bytes
    const double most = static_cast<double>(mostLines);
    store_.expect(static_cast<std::size_t>(estimate < most ? estimate : most));
  }

  // One line [first, last) without its line end; cut when it is the first kBufferBytes bytes of a
  // longer line.
  void handleLine(const char* first, const char* last, bool cut) {
    ++summary_.lines;
    if (!cut) {
      last = contentEnd(first, last);
    }
    const char* text = first;
    while (text != last && detail::isBlank(*text)) {
      ++text;
    }
    if (text == last) {
      ++summary_.blankLines;
      return;
    }
    if (*text == '#') {
      ++summary_.commentLines;
      return;
    }
    if (contentLines_++ < layout_.headerLines) {
      ++summary_.headerLines;
      return;
    }

    Cell cells[3];
    int cellCount = findCells(first, last, cells);
    if (cellCount <= maxColumn_) {
      if (!cut) {
        maxCellsSeen_ = std::max(maxCellsSeen_, cellCount);
        skip(first, last, LineProblem::TooFewCells, -1);
        return;
      }
      for (int axis = 0; axis < 3; ++axis) {
        if (cells[axis].first == nullptr) {
          skip(first, last, LineProblem::NotANumber, layout_.columns[axis]);
          return;
        }
      }
    }
    Vec3 value{};
    for (int axis = 0; axis < 3; ++axis) {
      const Cell raw = cells[axis];
      const CellKind kind =
          cut && raw.last == last
              ? CellKind::NotANumber
              : detail::readCell(detail::trimCell(raw.first, raw.last), value[axis]);
      if (kind != CellKind::Number) {
        skip(first, last,
             kind == CellKind::OutOfRange  ? LineProblem::OutOfRange
             : kind == CellKind::NotFinite ? LineProblem::NotFinite
                                           : LineProblem::NotANumber,
             layout_.columns[axis]);
        return;
      }
    }
    ++summary_.sampleLines;
    store_.add(value, summary_.lines);
  }

  // Finds the untrimmed cells of the X, Y and Z columns in the line, scanning no further than
  // the last of them, and returns the number of cells scanned: more than maxColumn_ when all
  // three were found.
  int findCells(const char* p, const char* last, Cell cells[3]) const {
    const std::array<int, 3>& columns = layout_.columns;
    int column = 0;
    for (;;) {
      const char* end;
      if (layout_.delimiter == Delimiter::Blanks) {
        while (p != last && detail::isBlank(*p)) {
          ++p;
        }
        if (p == last) {
          return column;
        }
        end = p;
        while (end != last && !detail::isBlank(*end)) {
          ++end;
        }
      } else {
        const void* found = std::memchr(p, separator_, static_cast<std::size_t>(last - p));
        end = found != nullptr ? static_cast<const char*>(found) : last;
      }
      for (int axis = 0; axis < 3; ++axis) {
        if (columns[axis] == column) {
          cells[axis] = Cell{p, end};
        }
      }
      ++column;
      if (column > maxColumn_) {
        return column;
      }
      if (end == last) {
        return column;
      }
      p = layout_.delimiter == Delimiter::Blanks ? end : end + 1;
    }
  }

  void skip(const char* first, const char* last, LineProblem problem, int column) {
    ++summary_.skippedLines;
    ++summary_.skippedByProblem[static_cast<std::size_t>(problem)];
    if (summary_.skipped.size() < options_.maxListedLines) {
      summary_.skipped.push_back(SkippedLine{
          summary_.lines, problem, column,
          printableText(std::string_view(first, static_cast<std::size_t>(last - first)))});
    }
  }

  // Column indices given by the caller that no line reaches are a usage error, not a data
  // problem.
  void checkIndicesReached() const {
    const std::uint64_t tooFew =
        summary_.skippedByProblem[static_cast<std::size_t>(LineProblem::TooFewCells)];
    if (!options_.columnIndices.empty() && summary_.sampleLines == 0 && tooFew > 0 &&
        tooFew == summary_.skippedLines) {
      throw UsageError("column " + std::to_string(maxColumn_ + 1) + " (0-based index " +
                       std::to_string(maxColumn_) + ") is beyond every line of " + name_ +
                       ", which has at most " + std::to_string(maxCellsSeen_) + " cells per line");
    }
  }

  Input& input_;
  const ReadOptions& options_;
  const std::string& name_;
  SampleSet& set_;
  ReadSummary& summary_;
  SampleStore store_;
  detail::Layout layout_;
  int maxColumn_ = 0;
  char separator_ = ',';
  char lineEnd_ = '\n';

  std::unique_ptr<char[]> buffer_;
  std::size_t pos_ = 0;  // first byte of buffer_ not yet handled
  std::size_t end_ = 0;  // end of the bytes read into buffer_
  bool atEnd_ = false;
  std::uint64_t reportedBytes_ = 0;
  std::uint64_t contentLines_ = 0;  // lines neither blank nor comments so far
  int maxCellsSeen_ = 0;            // most cells on a line with too few
};

void checkOptions(const ReadOptions& options) {
  detail::checkColumnOptions(options);
  if (options.unit) {
    options.unit->gaussPerUnit();  // throws UsageError for counts without a valid scale
  }
}

SampleSet read(Input& input, const ReadOptions& options, const std::string& source,
               const std::string& name) {
  SampleSet set;
  set.source = source;
  set.unitGiven = options.unit.has_value();
  set.unit = options.unit.value_or(SampleUnit{});
  Reader(input, options, name, set).run();
  return set;
}

}  // namespace

const char* delimiterName(Delimiter delimiter) {
  switch (delimiter) {
    case Delimiter::Auto:
      return "auto";
    case Delimiter::Comma:
      return "comma";
    case Delimiter::Semicolon:
      return "semicolon";
    case Delimiter::Tab:
      return "tab";
    case Delimiter::Blanks:
      return "blanks";
  }
  return "auto";
}

const char* lineProblemName(LineProblem problem) {
  switch (problem) {
    case LineProblem::TooFewCells:
      return "too few cells";
    case LineProblem::NotANumber:
      return "not a number";
    case LineProblem::OutOfRange:
      return "out of range";
    case LineProblem::NotFinite:
      return "not finite";
  }
  return "unknown";
}

SampleSet readSamples(const std::string& path, const ReadOptions& options) {
  checkOptions(options);
  const std::string name = describeSource(path);
  FileInput input(path, name, options.interrupted);
  return read(input, options, path, name);
}

SampleSet readSamples(std::istream& in, const ReadOptions& options, const std::string& source) {
  checkOptions(options);
  const std::string name = describeSource(source);
  StreamInput input(in, name);
  return read(input, options, source, name);
}

}  // namespace fluxtrim
