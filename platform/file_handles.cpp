#include "platform/file_handles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/atomic_file.h"

namespace lumo {
namespace {

constexpr std::size_t kCopyBlock = 1 << 20;

FileFacts factsFrom(const struct stat& info) {
  return FileFacts{.regular = S_ISREG(info.st_mode),
                   .size = static_cast<std::uint64_t>(info.st_size),
                   .device = static_cast<std::uint64_t>(info.st_dev),
                   .inode = static_cast<std::uint64_t>(info.st_ino),
                   .permissions = static_cast<mode_t>(info.st_mode & 07777)};
}

}  // namespace

std::optional<FileFacts> factsOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return factsFrom(info);
}

std::optional<FileFacts> factsOf(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::nullopt;
  return factsFrom(info);
}

std::string cannotOpenText(const std::string& path) { return "cannot open " + path + ": " + std::strerror(errno); }

ReadOnlyFile::ReadOnlyFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}

ReadOnlyFile::~ReadOnlyFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool readExactlyAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
  auto* out = static_cast<char*>(buffer);
  while (size > 0) {
    ssize_t n = ::pread(fd, out, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool copyRange(int from, std::uint64_t offset, std::uint64_t size, int to) {
  auto in = static_cast<loff_t>(offset);
  std::uint64_t left = size;
  // The kernel copies without passing the bytes through this process; when
  // it cannot (another file system, a pipe), sendfile, then a plain loop.
  bool kernelCopy = true;
  while (left > 0 && kernelCopy) {
    ssize_t n = ::copy_file_range(from, &in, to, nullptr, std::min<std::uint64_t>(left, 1u << 30), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0 || errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF)
        kernelCopy = false;
      else
        return false;
      break;
    }
    left -= static_cast<std::uint64_t>(n);
  }
  bool sendFile = true;
  while (left > 0 && sendFile) {
    auto at = static_cast<off_t>(in);
    ssize_t n = ::sendfile(to, from, &at, std::min<std::uint64_t>(left, 1u << 30));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0 || errno == EINVAL || errno == ENOSYS) {
        sendFile = false;
        break;
      }
      return false;
    }
    in = at;
    left -= static_cast<std::uint64_t>(n);
  }
  std::string buffer;
  while (left > 0) {
    if (buffer.empty()) buffer.resize(kCopyBlock);
    std::size_t chunk = std::min<std::uint64_t>(left, buffer.size());
    if (!readExactlyAt(from, buffer.data(), chunk, static_cast<std::uint64_t>(in))) return false;
    if (!writeAll(to, std::string_view(buffer.data(), chunk))) return false;
    in += static_cast<loff_t>(chunk);
    left -= chunk;
  }
  return true;
}

void closeDescriptor(int fd) {
  if (fd >= 0) ::close(fd);
}

bool isOpenForWriting(int fd) {
  if (fd < 0) return false;
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

namespace {
// A handler, not SIG_IGN: an ignored signal stays ignored in the programs
// exec starts, a handler goes back to the default there.
void onBrokenPipe(int) {}
}  // namespace

void keepReportDescriptor(int fd) {
  // The standard descriptors stay with the children: a program without
  // them would take the next file it opens for its output.
  const int flags = fd > 2 ? ::fcntl(fd, F_GETFD) : -1;
  if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  struct sigaction action {};
  action.sa_handler = onBrokenPipe;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGPIPE, &action, nullptr);
}

long processId() { return static_cast<long>(::getpid()); }

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first{}, second{};
  if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return a == b;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

void flushToDisk(const std::string& path) {
  char resolved[PATH_MAX];
  std::string file = ::realpath(path.c_str(), resolved) ? resolved : path;
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  std::size_t slash = file.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
  fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

LockedFile::LockedFile(const std::string& path, Mode mode) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    int flags = (mode == Mode::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    fd_ = ::open(path.c_str(), flags);
    if (fd_ < 0 && errno == ENOENT && mode == Mode::Write) {
      fd_ = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0644);
      created_ = fd_ >= 0;
      if (fd_ < 0 && errno == EEXIST) continue;
    }
    if (fd_ < 0) return;
    if (::flock(fd_, mode == Mode::Read ? LOCK_SH : LOCK_EX) != 0) {
      close();
      return;
    }
    struct stat held{}, current{};
    if (::fstat(fd_, &held) == 0 && ::stat(path.c_str(), &current) == 0 && held.st_dev == current.st_dev &&
        held.st_ino == current.st_ino) {
      mode_ = held.st_mode & 07777;
      return;
    }
    close();
    created_ = false;
  }
}

LockedFile::~LockedFile() { close(); }

int LockedFile::release() {
  ::flock(fd_, LOCK_UN);
  int fd = fd_;
  fd_ = -1;
  return fd;
}

bool LockedFile::readAll(std::string& out) const {
  out.clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = ::pread(fd_, buffer, sizeof buffer, static_cast<off_t>(out.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

void LockedFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace lumo
