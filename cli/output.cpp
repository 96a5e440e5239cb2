// Outputs checked against inputs and each other, written to a temporary file that replaces the
// target only when complete, with every write error reported with its reason.
#include "output.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>

#include "fluxtrim/error.hpp"
#include "fluxtrim/text.hpp"

namespace fluxtrim_cli {

namespace {

bool isStandard(const std::string& path) {
  return path.empty() || path == "-";
}

std::string quoted(const std::string& path) {
  return "'" + fluxtrim::printableText(path, 120) + "'";
}

// What a named file is on the file system: its device and inode when it exists, otherwise the
// path it would be created at.
struct Identity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  mode_t mode = 0;
  std::string resolved;
};

Identity identityOf(const NamedFile& file, bool output) {
  Identity identity;
  struct stat status {};
  const bool standard = isStandard(file.path);
  const int result = standard ? ::fstat(output ? STDOUT_FILENO : STDIN_FILENO, &status)
                              : ::stat(file.path.c_str(), &status);
  if (result == 0) {
    identity.exists = true;
    identity.device = status.st_dev;
    identity.inode = status.st_ino;
    identity.mode = status.st_mode;
  } else if (!standard) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(file.path, error);
    identity.resolved = std::filesystem::weakly_canonical(absolute, error).string();
    if (error) identity.resolved = absolute.lexically_normal().string();
  }
  return identity;
}

bool sameFile(const Identity& a, const Identity& b) {
  if (a.exists && b.exists) return a.device == b.device && a.inode == b.inode;
  return !a.exists && !b.exists && !a.resolved.empty() && a.resolved == b.resolved;
}

// "the input 'rec.csv'", "the input (standard input)", "-o 'out.json'", "standard output".
std::string described(const NamedFile& file, bool output) {
  if (isStandard(file.path)) {
    return output ? std::string("standard output") : file.option + " (standard input)";
  }
  return file.option + " " + quoted(file.path);
}

// The temporary files being written, for removal by a program ended at once by a signal: a
// path is written while its entry is unused, then the entry marked used.
constexpr int kMaxUnfinished = 8;
struct Unfinished {
  std::atomic<bool> used{false};
  char path[PATH_MAX] = {};
};
Unfinished unfinished[kMaxUnfinished];
std::mutex unfinishedMutex;

int listUnfinished(const std::string& path) {
  const std::lock_guard<std::mutex> lock(unfinishedMutex);
  for (int i = 0; i < kMaxUnfinished; ++i) {
    if (!unfinished[i].used.load() && path.size() < sizeof unfinished[i].path) {
      std::memcpy(unfinished[i].path, path.c_str(), path.size() + 1);
      unfinished[i].used.store(true);
      return i;
    }
  }
  return -1;
}

// Creates a file of a new name in folder, ".fluxtrim-" and six random letters and digits, with
// the permissions of a new file (0666 under the umask, as fopen creates one), and returns its
// descriptor, -1 with errno set when none could be created.
int createTemporary(const std::string& folder, std::string& path) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::atomic<unsigned> counter{0};
  std::mt19937 random(std::random_device{}() ^ counter++);
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = folder + "/.fluxtrim-";
    for (int k = 0; k < 6; ++k) path += kLetters[random() % (sizeof kLetters - 1)];
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

void checkOutputs(const std::vector<NamedFile>& inputs, const std::vector<NamedFile>& outputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const Identity output = identityOf(outputs[i], true);
    for (const NamedFile& input : inputs) {
      if (output.exists && S_ISREG(output.mode) && sameFile(output, identityOf(input, false))) {
        throw fluxtrim::UsageError(described(outputs[i], true) + " is the same file as " +
                                   described(input, false) + ": writing it would destroy it");
      }
    }
    for (std::size_t k = 0; k < i; ++k) {
      if (isStandard(outputs[i].path) && isStandard(outputs[k].path)) {
        throw fluxtrim::UsageError("both " + outputs[k].option + " and " + outputs[i].option +
                                   " write to standard output: give one of them a file");
      }
      if (!S_ISCHR(output.mode) && sameFile(output, identityOf(outputs[k], true))) {
        throw fluxtrim::UsageError(described(outputs[k], true) + " and " +
                                   described(outputs[i], true) +
                                   " are the same file: one would overwrite the other");
      }
    }
  }
}

Output::Output(const std::string& path) {
  if (isStandard(path)) {
    stream_ = stdout;
    name_ = "standard output";
    return;
  }
  name_ = quoted(path);
  struct stat status {};
  struct stat link {};
  const bool exists = ::stat(path.c_str(), &status) == 0;
  if (exists && S_ISDIR(status.st_mode)) {
    throw fluxtrim::IoError("cannot write " + name_ + ": it is a folder");
  }
  // A device, a pipe or a terminal is written as it is; so is the target of a dangling link.
  const bool direct = exists ? !S_ISREG(status.st_mode)
                             : ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  if (!direct) {
    // Through a link, the file it names is replaced, and the link kept.
    char resolved[PATH_MAX];
    const bool linked = exists && ::realpath(path.c_str(), resolved) != nullptr;
    openTemporary(linked ? std::string(resolved) : path);
  }
  if (stream_ == nullptr) {
    // A folder that cannot hold the temporary file may still hold a file that can be written.
    stream_ = std::fopen(path.c_str(), "w");
    if (stream_ == nullptr) {
      throw fluxtrim::IoError("cannot open " + name_ + " for writing: " + std::strerror(errno));
    }
  }
  ownsStream_ = true;
}

void Output::openTemporary(const std::string& target) {
  struct stat status {};
  const bool exists = ::stat(target.c_str(), &status) == 0;
  const std::filesystem::path folder = std::filesystem::path(target).parent_path();
  std::string path;
  const int fd = createTemporary(folder.empty() ? std::string(".") : folder.string(), path);
  if (fd < 0) {
    const int error = errno;
    if (exists && (error == EACCES || error == EPERM)) return;  // written directly
    throw fluxtrim::IoError("cannot open " + name_ + " for writing: " + std::strerror(error));
  }
  temporary_ = path;
  target_ = target;
  pending_ = listUnfinished(temporary_);
  // The old file's owner and permissions; a new file has those the system gives it.
  if (exists) {
    if (::fchown(fd, status.st_uid, status.st_gid) != 0) {
      // Not every user may give a file to another owner; the permissions are kept all the same.
    }
    ::fchmod(fd, status.st_mode & 07777);
  }
  stream_ = ::fdopen(fd, "w");
  if (stream_ == nullptr) {
    const int error = errno;
    ::close(fd);
    discard();
    throw fluxtrim::IoError("cannot open " + name_ + " for writing: " + std::strerror(error));
  }
}

Output::~Output() {
  if (ownsStream_ && stream_ != nullptr) std::fclose(stream_);
  discard();
}

void Output::forget() {
  if (pending_ >= 0) unfinished[pending_].used.store(false);
  pending_ = -1;
  temporary_.clear();
}

void Output::discard() {
  if (temporary_.empty()) return;
  ::unlink(temporary_.c_str());
  forget();
}

void Output::fail(int error) {
  if (error_ == 0) error_ = error != 0 ? error : EIO;
}

void Output::write(const std::string& text) {
  if (error_ != 0 || stream_ == nullptr) return;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) fail(errno);
}

void Output::close() {
  if (stream_ == nullptr) return;
  errno = 0;
  if (std::fflush(stream_) != 0 || std::ferror(stream_) != 0) fail(errno);
  if (ownsStream_) {
    if (!temporary_.empty() && error_ == 0 && ::fsync(fileno(stream_)) != 0) fail(errno);
    errno = 0;
    if (std::fclose(stream_) != 0) fail(errno);
    stream_ = nullptr;
    if (!temporary_.empty() && error_ == 0) {
      if (std::rename(temporary_.c_str(), target_.c_str()) == 0) {
        forget();
      } else {
        fail(errno);
      }
    }
    discard();
  }
  if (error_ != 0) {
    throw fluxtrim::IoError("cannot write " + name_ + ": " + std::strerror(error_));
  }
}

void removeUnfinishedOutputs() {
  for (Unfinished& entry : unfinished) {
    if (entry.used.load()) ::unlink(entry.path);
  }
}

}  // namespace fluxtrim_cli
