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

// Reads the input to its end through the line reader, reporting progress every few MiB.
SampleSet read(Input& input, const ReadOptions& options, const std::string& source,
               const std::string& name) {
  SampleSet set;
  set.source = source;
  detail::LineReader reader(options, name, set, detail::SampleStorage::Whole, input.totalBytes());
  std::uint64_t reported = 0;
  for (;;) {
    char* const space = reader.space();
    const std::size_t got = input.read(space, reader.room(), reader.bytes());
    if (got == 0) {
      break;
    }
    reader.commit(got);
    if (options.progress && reader.bytes() - reported >= kProgressBytes) {
      reported = reader.bytes();
      options.progress(reader.bytes(), input.totalBytes());
    }
  }
  reader.finish();
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
