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
#include "constants.hpp"
#include "lineKinds.hpp"
#include "sampleLayout.hpp"
#include "sampleWords.hpp"

namespace fluxtrim {

namespace {

using detail::Cell;
using detail::CellKind;

// The one read buffer: lines are examined in it, so it is also the longest line examined whole.
constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
// Bytes read between two calls of the progress callback.
constexpr std::uint64_t kProgressBytes = std::uint64_t{4} << 20;
// A line longer than this ends the read: no recording writes one, an endless input does.
constexpr std::uint64_t kLongestLineBytes = std::uint64_t{16} << 20;
// Kinds of line counted one by one; lines of further kinds are read as plain lines.
constexpr std::size_t kMostKinds = 32;

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

// One column of the result as it is read: first straight into its vector; then, once the first
// buffer is read, either still there, reserved ahead for an input of known size, or in fixed
// blocks copied into a vector of the exact size at the end. Memory thus never holds more than
// twice the samples, where vector growth alone would hold three times.
template <typename T>
class BlockedColumn {
 public:
  void expect(std::size_t count) { values_.reserve(count); }
  void useBlocks() { blocks_ = true; }

  void add(const T& value) {
    if (!blocks_) {
      values_.push_back(value);
      return;
    }
    if (filled_.empty() || used_ == kBlockSize) {
      filled_.emplace_back(new T[kBlockSize]);  // uninitialised: every element used is written
      used_ = 0;
    }
    filled_.back()[used_] = value;
    ++used_;
  }

  void moveTo(std::vector<T>& target) {
    if (!filled_.empty()) {
      values_.reserve(values_.size() + (filled_.size() - 1) * kBlockSize + used_);
      for (std::size_t b = 0; b < filled_.size(); ++b) {
        const std::size_t used = b + 1 == filled_.size() ? used_ : kBlockSize;
        values_.insert(values_.end(), filled_[b].get(), filled_[b].get() + used);
        filled_[b].reset();
      }
      filled_.clear();
    }
    target = std::move(values_);
  }

 private:
  static constexpr std::size_t kBlockSize = 65536;

  bool blocks_ = false;
  std::vector<T> values_;
  std::vector<std::unique_ptr<T[]>> filled_;
  std::size_t used_ = 0;  // elements in the last block
};

// The samples, their line numbers and, for an input with accelerometer columns, the
// accelerometer's samples.
class SampleStore {
 public:
  void expect(std::size_t count, bool accelerometer) {
    values_.expect(count);
    lines_.expect(count);
    if (accelerometer) {
      accelerometer_.expect(count);
    }
  }
  void useBlocks() {
    values_.useBlocks();
    lines_.useBlocks();
    accelerometer_.useBlocks();
  }
  void add(const Vec3& value, std::uint64_t line) {
    values_.add(value);
    lines_.add(line);
  }
  void addAccelerometer(const Vec3& value) { accelerometer_.add(value); }
  void moveTo(SampleSet& set) {
    values_.moveTo(set.values);
    lines_.moveTo(set.lineNumbers);
    accelerometer_.moveTo(set.accelerometer);
  }

 private:
  BlockedColumn<Vec3> values_;
  BlockedColumn<std::uint64_t> lines_;
  BlockedColumn<Vec3> accelerometer_;
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
    useLayout();
    chooseUnit();

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
    if (!atEnd_ && std::memchr(first, lineEnd_, size) == nullptr) {
      throw IoError("cannot read " + name_ + ": its first MiB holds no line end; it is no text " +
                    "recording");
    }
  }

  // The layout's columns, kinds and store.
  void useLayout() {
    summary_.delimiter = layout_.delimiter;
    summary_.columns = layout_.columns;
    summary_.columnRule = layout_.columnRule;
    summary_.header = layout_.header;
    summary_.accelerometerColumns = layout_.accelerometerColumns;
    summary_.accelerometerColumnRule = layout_.accelerometerColumnRule;
    summary_.kinds = layout_.kinds;
    summary_.warnings = layout_.warnings;
    set_.accelerometerUnit = layout_.accelerometerUnit;
    for (std::size_t k = 0; k < 3; ++k) {
      columns_[k] = layout_.columns[k];
      columns_[k + 3] = layout_.accelerometerColumns[k];
    }
    cellsRead_ = layout_.accelerometerColumns[0] >= 0 ? 6 : 3;
    matching_ = !options_.match.empty();
    ofKinds_ = !layout_.kinds.empty();
    for (std::size_t k = 0; k < 6; ++k) {
      maxColumn_ = k < 3 ? std::max(maxColumn_, columns_[k]) : maxColumn_;
      scanEnd_ = std::max(scanEnd_, columns_[k]);
    }
    separator_ = layout_.delimiter == Delimiter::Semicolon ? ';'
                 : layout_.delimiter == Delimiter::Tab     ? '\t'
                                                           : ',';
  }

  // The unit given wins over the one the input states, which wins over the one assumed.
  void chooseUnit() {
    const std::optional<SampleUnit>& stated = layout_.statedUnit;
    summary_.statedUnit = stated;
    if (options_.unit) {
      set_.unit = *options_.unit;
      set_.unitSource = UnitSource::Given;
      summary_.unitRule = "given";
      if (stated && !detail::sameUnit(*stated, *options_.unit)) {
        summary_.warnings.push_back("the unit is given as " + options_.unit->name() +
                                    ", but the input states " + stated->name() + " (" +
                                    layout_.statedRule + "): " + options_.unit->name() +
                                    " is used");
      }
    } else if (stated) {
      tenths_ = layout_.tenthsOfMicrotesla;
      set_.unit = tenths_ ? SampleUnit{Unit::Microtesla} : *stated;
      set_.unitSource = layout_.statedSource;
      summary_.unitRule = tenths_ ? layout_.statedRule + ", divided by 10" : layout_.statedRule;
    } else {
      set_.unit = options_.assumedUnit.value_or(SampleUnit{});
      set_.unitSource = UnitSource::Default;
      summary_.unitRule = "assumed";
    }
    set_.unitGiven = set_.unitSource != UnitSource::Default;
  }

  // The line [first, last) without a carriage return before its line feed.
  const char* contentEnd(const char* first, const char* last) const {
    return lineEnd_ == '\n' && last != first && last[-1] == '\r' ? last - 1 : last;
  }

  bool matches(const char* first, const char* last) const {
    return options_.match.empty() ||
           std::string_view(first, static_cast<std::size_t>(last - first)).find(options_.match) !=
               std::string_view::npos;
  }

  // The first lines that are not blank and hold the text matched, in the first buffer: complete
  // lines only, up to kFirstLineCount that are not comments.
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
      if (text != last && (*text == '#' || matches(p, last))) {
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

  // Discards the rest of a line longer than the buffer, up to and with its line end; a line
  // longer than kLongestLineBytes ends the read.
  void skipRestOfLine() {
    pos_ = 0;
    end_ = 0;
    std::uint64_t length = kBufferBytes;
    while (!atEnd_) {
      readMore();
      const void* found = std::memchr(buffer_.get(), lineEnd_, end_);
      if (found != nullptr) {
        pos_ = static_cast<std::size_t>(static_cast<const char*>(found) + 1 - buffer_.get());
        return;
      }
      length += end_;
      end_ = 0;
      if (length > kLongestLineBytes) {
        throw IoError("cannot read " + name_ + ": line " + std::to_string(summary_.lines) +
                      " is longer than 16 MiB; it is no text recording");
      }
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
    store_.expect(static_cast<std::size_t>(estimate < most ? estimate : most), cellsRead_ == 6);
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
    if (matching_ && !matches(first, last)) {
      ++summary_.leftOutLines;
      ++summary_.unmatchedLines;
      return;
    }
    if (contentLines_++ < layout_.headerLines) {
      ++summary_.headerLines;
      return;
    }
    if (ofKinds_ && !ofKeptKind(first, last)) {
      ++summary_.leftOutLines;
      return;
    }
    readSample(first, last, cut);
  }

  // Whether a line is of the kind kept, counted under its kind. A line of a kind not met in the
  // first lines is a kind of its own, left out; but a plain one beside a kind kept, or one beyond
  // the kinds counted, is read, and most likely skipped for its cells.
  bool ofKeptKind(const char* first, const char* last) {
    const detail::LineSignature signature = detail::lineSignature(first, last);
    int index = detail::findKind(summary_.kinds, signature);
    if (index < 0) {
      if ((signature.plain() && layout_.keptKind >= 0) || summary_.kinds.size() >= kMostKinds) {
        return true;
      }
      index = static_cast<int>(summary_.kinds.size());
      summary_.kinds.push_back(detail::kindOf(signature));
    }
    LineKind& kind = summary_.kinds[static_cast<std::size_t>(index)];
    ++kind.lines;
    return kind.kept;
  }

  // The cell of a column, trimmed, without the label of the kept lines before the first number.
  Cell cellOf(const Cell& raw, int column) const {
    const Cell cell = detail::trimCell(raw.first, raw.last);
    return column == 0 ? detail::withoutLabel(cell, layout_.firstCellLabel) : cell;
  }

  void readSample(const char* first, const char* last, bool cut) {
    Cell cells[6];
    const int cellCount = findCells(first, last, cells);
    if (cellCount <= maxColumn_) {
      if (!cut) {
        maxCellsSeen_ = std::max(maxCellsSeen_, cellCount);
        skip(first, last, LineProblem::TooFewCells, -1);
        return;
      }
      for (int axis = 0; axis < 3; ++axis) {
        if (cells[axis].first == nullptr) {
          skip(first, last, LineProblem::NotANumber, columns_[axis]);
          return;
        }
      }
    }
    Vec3 value{};
    for (int axis = 0; axis < 3; ++axis) {
      const Cell raw = cells[axis];
      const CellKind kind = cut && raw.last == last
                                ? CellKind::NotANumber
                                : detail::readCell(cellOf(raw, columns_[axis]), value[axis]);
      if (kind != CellKind::Number) {
        skip(first, last,
             kind == CellKind::OutOfRange  ? LineProblem::OutOfRange
             : kind == CellKind::NotFinite ? LineProblem::NotFinite
                                           : LineProblem::NotANumber,
             columns_[axis]);
        return;
      }
    }
    if (tenths_) {
      value = {{value[0] / 10.0, value[1] / 10.0, value[2] / 10.0}};
    }
    ++summary_.sampleLines;
    store_.add(value, summary_.lines);
    if (cellsRead_ == 6) {
      store_.addAccelerometer(accelerometerOf(cells, last, cut));
    }
  }

  // The accelerometer's values in the line, NaN where a cell is missing or holds no finite
  // number.
  Vec3 accelerometerOf(const Cell cells[6], const char* last, bool cut) const {
    Vec3 value{{detail::kNaN, detail::kNaN, detail::kNaN}};
    for (int axis = 0; axis < 3; ++axis) {
      const Cell raw = cells[axis + 3];
      double number = 0.0;
      if (raw.first != nullptr && !(cut && raw.last == last) &&
          detail::readCell(cellOf(raw, columns_[axis + 3]), number) == CellKind::Number) {
        value[axis] = number;
      }
    }
    return value;
  }

  // Finds the untrimmed cells of the magnetometer's and the accelerometer's columns in the line,
  // scanning no further than the last of them, and returns the number of cells scanned: more
  // than maxColumn_ when the magnetometer's three were found.
  int findCells(const char* p, const char* last, Cell cells[6]) const {
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
      for (int k = 0; k < 3; ++k) {
        if (columns_[k] == column) {
          cells[k] = Cell{p, end};
        }
      }
      for (int k = 3; k < cellsRead_; ++k) {
        if (columns_[k] == column) {
          cells[k] = Cell{p, end};
        }
      }
      ++column;
      if (column > scanEnd_ || end == last) {
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
  std::array<int, 6> columns_{};  // the magnetometer's X, Y, Z, then the accelerometer's or -1
  int cellsRead_ = 3;             // 6 with the accelerometer's columns
  int maxColumn_ = 0;             // the highest of the magnetometer's columns
  int scanEnd_ = 0;               // the highest column read
  bool tenths_ = false;           // values in tenths of the unit, divided by 10
  bool matching_ = false;         // only lines holding options_.match are read
  bool ofKinds_ = false;          // lines are told apart by kind
  char separator_ = ',';
  char lineEnd_ = '\n';

  std::unique_ptr<char[]> buffer_;
  std::size_t pos_ = 0;  // first byte of buffer_ not yet handled
  std::size_t end_ = 0;  // end of the bytes read into buffer_
  bool atEnd_ = false;
  std::uint64_t reportedBytes_ = 0;
  std::uint64_t contentLines_ = 0;  // lines neither blank, comments nor left out so far
  int maxCellsSeen_ = 0;            // most cells on a line with too few
};

void checkOptions(const ReadOptions& options) {
  detail::checkColumnOptions(options);
  // Throw UsageError for counts without a valid scale.
  if (options.unit) {
    options.unit->gaussPerUnit();
  }
  if (options.assumedUnit) {
    options.assumedUnit->gaussPerUnit();
  }
}

SampleSet read(Input& input, const ReadOptions& options, const std::string& source,
               const std::string& name) {
  SampleSet set;
  set.source = source;
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

AmbiguousInput::AmbiguousInput(const std::string& message, std::string source,
                               std::vector<Column> columns, std::vector<LineKind> kinds)
    : UsageError(message),
      source_(std::move(source)),
      columns_(std::move(columns)),
      kinds_(std::move(kinds)) {}

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
