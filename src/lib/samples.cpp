#include "fluxtrim/samples.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <istream>
#include <memory>
#include <new>
#include <streambuf>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "coreThreads.h"
#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"
#include "lineReader.hpp"
#include "sampleLayout.hpp"

namespace fluxtrim {

namespace {

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
  // Whether readAt reads the input: a regular file, opened by path, without an interruption hook.
  virtual bool readsAt() const { return false; }
  // Reads up to size bytes from offset bytes after the input's start, on any thread, without
  // moving read()'s position; returns their number, 0 at the end, -1 with errno for an error.
  virtual long readAt(char* buffer, std::size_t size, std::uint64_t offset) {
    static_cast<void>(buffer);
    static_cast<void>(size);
    static_cast<void>(offset);
    errno = EINVAL;
    return -1;
  }

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
        start_ = position;
        regular_ = true;
      }
      ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
  }
  ~FileInput() override { release(); }

  bool readsAt() const override { return owned_ && regular_ && !interrupted_; }
  long readAt(char* buffer, std::size_t size, std::uint64_t offset) override {
    for (;;) {
      const ssize_t got = ::pread(fd_, buffer, size, start_ + static_cast<off_t>(offset));
      if (got >= 0 || errno != EINTR) {
        return static_cast<long>(got);
      }
    }
  }
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
  off_t start_ = 0;   // the position the input starts at
  bool regular_ = false;
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

// The bytes left after the first buffer from which the rest of a file is read in two halves.
constexpr std::uint64_t kSplitBytes = std::uint64_t{4} << 20;
// How far past the middle a line end is looked for before the rest is read in one piece.
constexpr std::uint64_t kLineEndSearch = std::uint64_t{4} << 20;

// The offset just after the first line end at or after middle, 0 when there is none before the
// last byte or within kLineEndSearch.
std::uint64_t lineStartAfter(Input& input, std::uint64_t middle, char lineEnd) {
  const std::uint64_t total = input.totalBytes();
  std::vector<char> chunk(std::size_t{1} << 16);
  for (std::uint64_t offset = middle; offset < total && offset - middle < kLineEndSearch;) {
    const std::size_t size =
        static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), total - offset));
    const long got = input.readAt(chunk.data(), size, offset);
    if (got <= 0) {
      return 0;
    }
    const void* found = std::memchr(chunk.data(), lineEnd, static_cast<std::size_t>(got));
    if (found != nullptr) {
      const std::uint64_t start =
          offset + static_cast<std::uint64_t>(static_cast<const char*>(found) - chunk.data()) + 1;
      return start < total ? start : 0;
    }
    offset += static_cast<std::uint64_t>(got);
  }
  return 0;
}

// The second half of a long file, from a line start on, read on the calibration core's second
// thread by a reader of its own while the calling thread reads the first half; the first
// half's reader appends it once both are done, so that the samples, line numbers, counts and
// messages are those of one reader. Anything that goes wrong here leaves the rest to the
// calling thread, which reads it again and meets the same problem in its place.
class LaterHalf {
 public:
  LaterHalf(Input& input, const detail::LineReader& earlier, std::uint64_t start)
      : input_(input), reader_(earlier, set_), start_(start) {}
  ~LaterHalf() { await(); }
  LaterHalf(const LaterHalf&) = delete;
  LaterHalf& operator=(const LaterHalf&) = delete;

  bool run() {
    running_ = coder::internal::startOnSecondThread(&LaterHalf::task, this);
    return running_;
  }
  void await() {
    if (running_) {
      coder::internal::awaitSecondThread();
      running_ = false;
    }
  }
  std::uint64_t start() const { return start_; }
  std::uint64_t bytes() const { return bytes_.load(std::memory_order_relaxed); }
  bool complete() const { return complete_; }
  detail::LineReader& reader() { return reader_; }

 private:
  static void task(const void* context) {
    static_cast<LaterHalf*>(const_cast<void*>(context))->read();
  }
  void read() noexcept {
    try {
      const std::uint64_t total = input_.totalBytes();
      for (std::uint64_t offset = start_; offset < total;) {
        char* const space = reader_.space();
        const std::size_t size =
            static_cast<std::size_t>(std::min<std::uint64_t>(reader_.room(), total - offset));
        const long got = input_.readAt(space, size, offset);
        if (got <= 0) {
          return;  // an error, or a file cut short while read
        }
        reader_.commit(static_cast<std::size_t>(got));
        offset += static_cast<std::uint64_t>(got);
        bytes_.store(offset - start_, std::memory_order_relaxed);
      }
      reader_.finishRest();
      complete_ = true;
    } catch (...) {
      complete_ = false;
    }
  }

  Input& input_;
  SampleSet set_;
  detail::LineReader reader_;
  std::uint64_t start_;
  std::atomic<std::uint64_t> bytes_{0};
  bool complete_ = false;
  bool running_ = false;
};

// The second half of the input started on the second thread, once the layout is decided: for a
// regular file with more than kSplitBytes left, read in plain lines, when two threads are allowed
// and the second is free. Null otherwise.
std::unique_ptr<LaterHalf> startLaterHalf(Input& input, const detail::LineReader& reader) {
  const std::uint64_t total = input.totalBytes();
  const std::uint64_t read = reader.bytes();
  if (!input.readsAt() || total < read || total - read < kSplitBytes || !reader.canHandOff() ||
      coder::internal::coreThreadCount() < 2) {
    return nullptr;
  }
  const std::uint64_t start = lineStartAfter(input, read + (total - read) / 2, reader.lineEnd());
  if (start == 0) {
    return nullptr;
  }
  auto later = std::make_unique<LaterHalf>(input, reader, start);
  return later->run() ? std::move(later) : nullptr;
}

// Reads the input to its end through the line reader, reporting progress every few MiB; a long
// file in two halves, the second on another thread, when startLaterHalf allows.
SampleSet read(Input& input, const ReadOptions& options, const std::string& source,
               const std::string& name) {
  SampleSet set;
  set.source = source;
  detail::LineReader reader(options, name, set, detail::SampleStorage::Whole, input.totalBytes());
  std::unique_ptr<LaterHalf> later;
  bool splitTried = false;
  std::uint64_t reported = 0;
  // Reads up to the later half's start, or to the end without one.
  const auto readPart = [&] {
    for (;;) {
      if (!splitTried && reader.decided()) {
        splitTried = true;
        later = startLaterHalf(input, reader);
      }
      char* const space = reader.space();
      std::size_t room = reader.room();
      if (later) {
        room = static_cast<std::size_t>(
            std::min<std::uint64_t>(room, later->start() - reader.bytes()));
      }
      const std::size_t got = room == 0 ? 0 : input.read(space, room, reader.bytes());
      if (got == 0) {
        return;
      }
      reader.commit(got);
      const std::uint64_t bytes = reader.bytes() + (later ? later->bytes() : 0);
      if (options.progress && bytes >= reported + kProgressBytes) {
        reported = bytes;
        options.progress(bytes, input.totalBytes());
      }
    }
  };
  readPart();
  if (later) {
    later->await();
    if (later->complete() && reader.bytes() == later->start() && reader.atLineStart()) {
      reader.finishWith(later->reader());
      later.reset();
    } else {
      later.reset();  // the rest read here instead
      readPart();
      reader.finish();
    }
  } else {
    reader.finish();
  }
  if (options.progress) {
    options.progress(reader.bytes(), input.totalBytes());
  }
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

SampleStream::SampleStream(const ReadOptions& options, const std::string& source)
    : options_(options), name_(describeSource(source)) {
  checkOptions(options_);
  options_.progress = nullptr;
  options_.interrupted = nullptr;
  set_.source = source;
  reader_ =
      std::make_unique<detail::LineReader>(options_, name_, set_, detail::SampleStorage::Live);
}

SampleStream::~SampleStream() = default;

void SampleStream::check() const {
  if (failed_) {
    throw Error("reading " + name_ + " already failed");
  }
  if (finished_) {
    throw Error("reading " + name_ + " already ended");
  }
}

std::size_t SampleStream::push(const char* data, std::size_t size) {
  check();
  const std::size_t before = set_.values.size();
  try {
    while (size > 0) {
      char* const space = reader_->space();
      const std::size_t taken = std::min(size, reader_->room());
      std::memcpy(space, data, taken);
      reader_->commit(taken);
      data += taken;
      size -= taken;
    }
    if (!reader_->decided() && reader_->heldLines() >= detail::kFirstLineCount) {
      reader_->decide();
    }
  } catch (...) {
    failed_ = true;
    throw;
  }
  return set_.values.size() - before;
}

bool SampleStream::decideEarly() {
  check();
  try {
    return reader_->tryDecide();
  } catch (...) {
    failed_ = true;
    throw;
  }
}

std::size_t SampleStream::finish(bool cutShort) {
  check();
  const std::size_t before = set_.values.size();
  finished_ = true;
  try {
    reader_->finish(cutShort);
  } catch (...) {
    failed_ = true;
    throw;
  }
  return set_.values.size() - before;
}

bool SampleStream::decided() const {
  return reader_->decided();
}

std::size_t SampleStream::heldLines() {
  return reader_->heldLines();
}

}  // namespace fluxtrim
