#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <random>
#include <cstdlib>
#include <cstring>

#include "platform/debug_channel.h"

namespace lumo {
namespace {

// The path that a rename must replace: the file behind a symbolic link, or
// the path itself when it does not exist yet.
std::string resolvedTarget(const std::string& path) {
  char resolved[PATH_MAX];
  struct stat link{};
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && ::realpath(path.c_str(), resolved))
    return resolved;
  return path;
}

std::string folderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// "." and six letters and digits: a name in the target's folder unlikely
// to be taken; the caller retries when it is.
std::string randomSuffix() {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 generator{std::random_device{}()};
  std::string suffix = ".";
  for (int i = 0; i < 6; ++i) suffix += kLetters[generator() % 62];
  return suffix;
}

// Unnamed files can be named only through /proc or with the right to
// open files by their descriptor alone (root).
bool unnamedFilesCanBeLinked() {
  static const bool possible = ::access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0;
  return possible;
}

}  // namespace

PendingFile::~PendingFile() { discard(); }

bool PendingFile::create(const std::string& target, mode_t mode) {
  discard();
  target_ = target;
  if (unnamedFilesCanBeLinked()) {
    fd_ = ::open(folderOf(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (fd_ >= 0) return true;
    // Only a file system without unnamed files gets the fallback.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
  }
  // Short and hidden whatever the length of the target's name.
  std::string named = folderOf(target) + "/.lumo-XXXXXX";
  fd_ = ::mkostemp(named.data(), O_CLOEXEC);
  if (fd_ < 0) return false;
  if (::fchmod(fd_, mode) != 0) {
  }
  named_ = named;
  return true;
}

bool PendingFile::linkTo(const std::string& path) const {
  if (::linkat(fd_, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return true;
  if (errno == EEXIST) return false;
  std::string self = "/proc/self/fd/" + std::to_string(fd_);
  return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

bool PendingFile::publish(bool replace) {
  if (fd_ < 0) return false;
  bool ok = true;
  int error = 0;
  auto failed = [&] {
    error = errno;
    ok = false;
  };
  if (!named_.empty()) {
    if (::close(fd_) != 0) failed();
    fd_ = -1;
    if (ok && replace && ::rename(named_.c_str(), target_.c_str()) != 0) failed();
    if (ok && !replace) {
      // A hard link never replaces anything; a file system without links
      // is looked at first.
      if (::link(named_.c_str(), target_.c_str()) == 0) {
        ::unlink(named_.c_str());
      } else if (errno == EEXIST) {
        failed();
      } else {
        struct stat st{};
        if (::lstat(target_.c_str(), &st) == 0)
          errno = EEXIST, failed();
        else if (::rename(named_.c_str(), target_.c_str()) != 0)
          failed();
      }
    }
    if (ok) named_.clear();
  } else if (!replace) {
    if (!linkTo(target_)) failed();
  } else {
    // Named for a moment beside the target, and already whole: the rename
    // replaces the target in one step.
    std::string temporary;
    for (int attempt = 0; attempt < 100; ++attempt) {
      temporary = folderOf(target_) + "/.lumo" + randomSuffix();
      if (linkTo(temporary)) break;
      temporary.clear();
      if (errno != EEXIST) break;
    }
    if (temporary.empty()) {
      failed();
    } else if (::rename(temporary.c_str(), target_.c_str()) != 0) {
      failed();
      ::unlink(temporary.c_str());
    }
  }
  if (fd_ >= 0 && ::close(fd_) != 0 && ok) failed();
  fd_ = -1;
  discard();
  errno = error;
  return ok;
}

void PendingFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!named_.empty()) ::unlink(named_.c_str());
  named_.clear();
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool writeAllAt(int fd, std::string_view data, std::uint64_t offset) {
  while (!data.empty()) {
    ssize_t n = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool replaceFileAtomically(const std::string& path, std::string_view content, mode_t mode, bool flush) {
  std::string target = resolvedTarget(path);
  PendingFile file;
  if (!file.create(target)) return false;
  int fd = file.fd();
  struct stat old{};
  if (::stat(target.c_str(), &old) == 0) {
    // Keeps a file edited by root for a user owned by that user; an ordinary
    // user cannot give files away, and then the new file is simply theirs.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
    }
  }
  bool ok = writeAll(fd, content) && ::fchmod(fd, mode) == 0 && (!flush || ::fsync(fd) == 0);
  return ok && file.publish();
}

bool createFreshFile(const std::string& path, std::string_view content) {
  ::unlink(path.c_str());
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    debugOutput("cannot create " + path + ": " + std::strerror(errno));
    return false;
  }
  bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    debugOutput("cannot write " + path);
    ::unlink(path.c_str());
  }
  return ok;
}

std::optional<RewritableFile> readRewritableFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info{};
  RewritableFile file;
  // No write bit means read-only for everybody, root included.
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0222) != 0;
  char buffer[65536];
  while (ok) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    file.content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (!ok) return std::nullopt;
  file.mode = info.st_mode & 07777;
  return file;
}

}  // namespace lumo
