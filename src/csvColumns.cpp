#include "csvColumns.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "numparse.hpp"
#include "printable.hpp"

namespace csvcolumns {

namespace {

// One message of a half, kept until the halves are joined: a short line's number is counted from
// the first line of its half.
struct Message {
  bool shortLine;      // "Line <n> : ..." rather than "Header : ..."
  std::uint64_t line;  // 0-based within the half, for a short line
  std::string text;    // the cell or the line, printable
};

// The first kMaxMessages messages of a half and the count of all of them.
struct Messages {
  std::vector<Message> kept;
  std::uint64_t count = 0;

  void add(bool shortLine, std::uint64_t line, const char* first, const char* last) {
    if (count++ < kMaxMessages) {
      kept.push_back({shortLine, line, printableText(first, last)});
    }
  }
};

// The rows of the first half go straight into the columns: below their previous length only the
// converted cells are written, beyond it every cell (0 for one that did not convert).
class ColumnRows {
 public:
  ColumnRows(Columns& columns, std::vector<std::uint8_t>& complete)
      : columns_(columns), complete_(complete), previousRows_(columns[0].size()) {
    complete_.clear();
  }

  // Sizes the columns for the whole file from the first chunk's line length, so that they are
  // not copied as they grow. A failed reservation leaves it to the growth.
  void reserveFor(const char* chunk, std::size_t length, std::uint64_t fileBytes) {
    if (length == 0) {
      return;
    }
    const double lines = static_cast<double>(std::count(chunk, chunk + length, '\n'));
    double estimate = lines + 1;  // exact when the chunk is the whole file
    if (length < fileBytes) {
      estimate = static_cast<double>(fileBytes) * (lines / static_cast<double>(length)) * 1.02 + 64;
    }
    if (estimate > static_cast<double>(fileBytes + 1)) {
      estimate = static_cast<double>(fileBytes + 1);
    }
    try {
      const std::size_t rows = static_cast<std::size_t>(estimate);
      for (std::vector<double>& column : columns_) {
        column.reserve(rows);
      }
      complete_.reserve(rows);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
  }

  void add(const double value[3], unsigned converted) {
    if (row_ < previousRows_) {
      for (int c = 0; c < 3; ++c) {
        if ((converted >> c) & 1u) {
          columns_[c][row_] = value[c];
        }
      }
    } else {
      for (int c = 0; c < 3; ++c) {
        columns_[c].push_back(((converted >> c) & 1u) ? value[c] : 0.0);
      }
    }
    complete_.push_back(converted == 7u ? 1 : 0);
    ++row_;
  }

  std::uint64_t rows() const { return row_; }

  // Drops the previous rows beyond the ones this file has.
  void finish() {
    for (std::vector<double>& column : columns_) {
      column.resize(row_);
    }
  }

 private:
  Columns& columns_;
  std::vector<std::uint8_t>& complete_;
  const std::size_t previousRows_;
  std::size_t row_ = 0;
};

// The rows of the second half, in blocks that are appended to the columns, and released, once
// the first half is done.
class BlockRows {
 public:
  void reserveFor(const char*, std::size_t, std::uint64_t) {}

  void add(const double value[3], unsigned converted) {
    if (used_ == kBlockRows) {
      blocks_.push_back(std::unique_ptr<Block>(new Block));  // left uninitialised
      used_ = 0;
    }
    Block& block = *blocks_.back();
    block.x[used_] = value[0];
    block.y[used_] = value[1];
    block.z[used_] = value[2];
    block.converted[used_] = static_cast<std::uint8_t>(converted);
    ++used_;
    ++rows_;
  }

  std::uint64_t rows() const { return rows_; }

  void appendTo(ColumnRows& target) {
    for (std::size_t b = 0; b < blocks_.size(); ++b) {
      const Block& block = *blocks_[b];
      const std::size_t count = b + 1 == blocks_.size() ? used_ : kBlockRows;
      for (std::size_t i = 0; i < count; ++i) {
        const double value[3] = {block.x[i], block.y[i], block.z[i]};
        target.add(value, block.converted[i]);
      }
      blocks_[b].reset();
    }
    blocks_.clear();
  }

 private:
  static constexpr std::size_t kBlockRows = 1 << 16;
  struct Block {
    double x[kBlockRows];
    double y[kBlockRows];
    double z[kBlockRows];
    std::uint8_t converted[kBlockRows];
  };
  std::vector<std::unique_ptr<Block>> blocks_;
  std::size_t used_ = kBlockRows;
  std::uint64_t rows_ = 0;
};

// White space as strtod skips it in the "C" locale.
bool isBlank(const char* first, const char* last) {
  for (const char* p = first; p != last; ++p) {
    const char c = *p;
    if (!(c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r')) {
      return false;
    }
  }
  return true;
}

// The position just after the third comma of the text, or nullptr when it has fewer commas. The
// first three cells of a line that has three commas end before it.
const char* afterThirdComma(const char* first, const char* last) {
  const char* p = first;
  for (int k = 0; k < 3; ++k) {
    const void* comma = std::memchr(p, ',', static_cast<std::size_t>(last - p));
    if (comma == nullptr) {
      return nullptr;
    }
    p = static_cast<const char*>(comma) + 1;
  }
  return p;
}

// Parses the lines of one byte range of the file: those that start at offsets below stopAt,
// from offset begin on (or, with skipToLineStart, from the first line that starts after begin).
// The file is read in chunks into one buffer; a line is parsed where it lies in the buffer, and
// a line that does not fit is either grown into a larger buffer or, once its first three cells
// are complete, parsed and the rest of it skipped unread.
template <class Rows>
class HalfParser {
 public:
  HalfParser(int fd, std::uint64_t begin, std::uint64_t stopAt, bool skipToLineStart,
             std::uint64_t fileBytes, std::size_t chunkBytes, Rows& rows, Messages& messages,
             const std::atomic<bool>& cancel)
      : fd_(fd),
        begin_(begin),
        stopAt_(stopAt),
        skipToLineStart_(skipToLineStart),
        fileBytes_(fileBytes),
        chunkBytes_(chunkBytes > 0 ? chunkBytes : 1),
        rows_(rows),
        messages_(messages),
        cancel_(cancel) {}

  void run() {
    std::vector<char> buffer(chunkBytes_);
    std::uint64_t bufferOffset = begin_;  // file offset of buffer[0]
    std::uint64_t readOffset = begin_;
    std::size_t filled = 0;            // bytes in the buffer
    std::size_t line = 0;              // start of the current line in the buffer
    std::size_t scan = 0;              // where the search for its newline goes on
    bool skipping = skipToLineStart_;  // discarding up to the next newline
    bool firstChunk = true;
    bool end = false;  // a read found the end of the file
    for (;;) {
      char* const base = buffer.data();
      // Every line that ends in the buffer.
      while (scan < filled) {
        const void* found = std::memchr(base + scan, '\n', filled - scan);
        if (found == nullptr) {
          break;
        }
        const std::size_t newline =
            static_cast<std::size_t>(static_cast<const char*>(found) - base);
        if (skipping) {
          skipping = false;
        } else {
          if (bufferOffset + line >= stopAt_) {
            return;
          }
          parseLine(base + line, base + newline);
        }
        line = scan = newline + 1;
      }
      if (end) {
        // The text after the last newline is the last line.
        if (!skipping && bufferOffset + line < stopAt_) {
          parseLine(base + line, base + filled);
        }
        return;
      }
      // Room for the next chunk.
      if (skipping) {
        bufferOffset += filled;
        filled = line = scan = 0;
      } else if (line > 0) {
        std::memmove(base, base + line, filled - line);
        bufferOffset += line;
        filled -= line;
        scan -= line;
        line = 0;
      } else if (filled == buffer.size()) {
        // One line fills the buffer.
        if (bufferOffset >= stopAt_) {
          return;
        }
        const char* const cellsEnd = afterThirdComma(base, base + filled);
        if (cellsEnd != nullptr) {
          parseCells(base, cellsEnd);
          skipping = true;
          bufferOffset += filled;
          filled = scan = 0;
        } else {
          buffer.resize(buffer.size() * 2);
        }
      }
      if (cancel_.load(std::memory_order_relaxed)) {
        return;
      }
      const std::size_t got = readChunk(buffer.data() + filled, buffer.size() - filled, readOffset);
      if (firstChunk) {
        rows_.reserveFor(buffer.data() + filled, got, fileBytes_);
        firstChunk = false;
      }
      end = got == 0;
      readOffset += got;
      filled += got;
    }
  }

 private:
  // pread until it transfers something or reports the end; a failure throws.
  std::size_t readChunk(char* into, std::size_t room, std::uint64_t offset) {
    for (;;) {
      const ssize_t got = ::pread(fd_, into, room, static_cast<off_t>(offset));
      if (got >= 0) {
        return static_cast<std::size_t>(got);
      }
      if (errno != EINTR) {
        throw std::system_error(errno, std::generic_category(), "read");
      }
    }
  }

  // One whole line, its line end excluded.
  void parseLine(const char* first, const char* last) {
    if (last != first && last[-1] == '\r') {
      --last;
    }
    parseCells(first, last);
  }

  // The first three comma-separated cells of the line [first, last); a comma with nothing after
  // it ends the cells.
  void parseCells(const char* first, const char* last) {
    double value[3] = {0.0, 0.0, 0.0};
    unsigned converted = 0;
    int cells = 0;
    const char* cell = first;
    while (cells < 3 && cell != last) {
      const void* found = std::memchr(cell, ',', static_cast<std::size_t>(last - cell));
      const char* const comma = found != nullptr ? static_cast<const char*>(found) : last;
      double number;
      if (numparse::toDouble(cell, comma, number) == numparse::Status::Ok) {
        value[cells] = number;
        converted |= 1u << cells;
      } else {
        messages_.add(false, 0, cell, comma);
      }
      ++cells;
      cell = comma == last ? last : comma + 1;
    }
    if (cells < 3 && !isBlank(first, last)) {
      messages_.add(true, lineIndex_, first, last);
    }
    rows_.add(value, converted);
    ++lineIndex_;
  }

  const int fd_;
  const std::uint64_t begin_;
  const std::uint64_t stopAt_;
  const bool skipToLineStart_;
  const std::uint64_t fileBytes_;
  const std::size_t chunkBytes_;
  Rows& rows_;
  Messages& messages_;
  const std::atomic<bool>& cancel_;
  std::uint64_t lineIndex_ = 0;
};

void appendMessages(const Messages& half, std::uint64_t firstLine, std::uint64_t& shown,
                    std::string& out) {
  for (const Message& message : half.kept) {
    if (shown == kMaxMessages) {
      return;
    }
    if (message.shortLine) {
      out += "Line " + std::to_string(firstLine + message.line + 1) +
             " : fewer than 3 comma-separated cells : " + message.text + "\n";
    } else {
      out += "Header : " + message.text + "\n";
    }
    ++shown;
  }
}

// Joins a thread when left by an exception, after telling it to stop.
class JoinOnExit {
 public:
  JoinOnExit(std::thread& thread, std::atomic<bool>& cancel) : thread_(thread), cancel_(cancel) {}
  ~JoinOnExit() {
    if (thread_.joinable()) {
      cancel_.store(true);
      thread_.join();
    }
  }
  JoinOnExit(const JoinOnExit&) = delete;
  JoinOnExit& operator=(const JoinOnExit&) = delete;

 private:
  std::thread& thread_;
  std::atomic<bool>& cancel_;
};

}  // namespace

void read(int fd, std::uint64_t sizeHint, Columns& columns, std::vector<std::uint8_t>& complete,
          std::string& messages, const Options& options) {
  const std::uint64_t noLimit = std::numeric_limits<std::uint64_t>::max();
  bool split = sizeHint >= options.splitBytes && sizeHint >= 2;
  bool onThread = options.secondHalf == Options::SecondHalf::Thread;
  if (options.secondHalf == Options::SecondHalf::Auto) {
    onThread = std::thread::hardware_concurrency() >= 2;
    split = split && onThread;
  }
  const std::uint64_t middle = sizeHint / 2;

  std::atomic<bool> cancel(false);
  ColumnRows first(columns, complete);
  Messages firstMessages;
  BlockRows second;
  Messages secondMessages;
  HalfParser<ColumnRows> firstHalf(fd, 0, split ? middle : noLimit, false, sizeHint,
                                   options.chunkBytes, first, firstMessages, cancel);
  // The second half starts with the first line that starts at or after the middle.
  HalfParser<BlockRows> secondHalf(fd, split ? middle - 1 : 0, noLimit, true, sizeHint,
                                   options.chunkBytes, second, secondMessages, cancel);

  std::thread worker;
  std::exception_ptr workerError;
  JoinOnExit joinOnExit(worker, cancel);
  if (split && onThread) {
    try {
      worker = std::thread([&secondHalf, &workerError] {
        try {
          secondHalf.run();
        } catch (...) {
          workerError = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      onThread = false;  // no thread to be had: the same work on this one
    }
  }
  firstHalf.run();
  if (worker.joinable()) {
    worker.join();
    if (workerError) {
      std::rethrow_exception(workerError);
    }
  } else if (split) {
    secondHalf.run();
  }

  const std::uint64_t firstRows = first.rows();
  second.appendTo(first);
  first.finish();

  std::uint64_t shown = 0;
  appendMessages(firstMessages, 0, shown, messages);
  appendMessages(secondMessages, firstRows, shown, messages);
  const std::uint64_t total = firstMessages.count + secondMessages.count;
  if (total > kMaxMessages) {
    messages += "(" + std::to_string(total - kMaxMessages) + " more messages not shown)\n";
  }
}

}  // namespace csvcolumns
