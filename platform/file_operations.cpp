#include "platform/file_operations.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace lumo {
namespace {

bool hasNoWriteBit(const struct stat& st) { return S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0; }

// Copies everything from `in` to `out`, in the kernel where it can.
bool copyBytes(int in, int out) {
  bool kernelCopy = true;
  for (;;) {
    if (kernelCopy) {
      ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1u << 30, 0);
      if (n == 0) return true;
      if (n > 0) continue;
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF) return false;
      kernelCopy = false;
    }
    char buffer[1 << 16];
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += w;
    }
  }
}

// Empties the folder open as `folder`; entries on another device than
// `device` are mount points and are left alone.
void removeContents(int folder, dev_t device) {
  int listing = ::dup(folder);
  if (listing < 0) return;
  DIR* dir = ::fdopendir(listing);
  if (!dir) {
    ::close(listing);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);

  for (const std::string& name : names) {
    struct stat st;
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (st.st_dev != device) continue;
      int child = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child < 0) continue;
      removeContents(child, device);
      ::close(child);
      ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
    } else if (!hasNoWriteBit(st)) {
      ::unlinkat(folder, name.c_str(), 0);
    }
  }
}

}  // namespace

bool isReadOnlyFile(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && hasNoWriteBit(st);
}

bool pathFileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool isFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool deleteFile(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode) || hasNoWriteBit(st)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool makeSurePathExists(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    if (path[slash - 1] == '/') continue;
    std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0777) == 0) continue;
    struct stat st;
    if (errno != EEXIST || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  }
  return true;
}

void removeTree(const std::string& folder) {
  struct stat st;
  if (::lstat(folder.c_str(), &st) != 0) return;
  if (S_ISLNK(st.st_mode)) {
    ::unlink(folder.c_str());
    return;
  }
  if (!S_ISDIR(st.st_mode)) return;
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  removeContents(fd, st.st_dev);
  ::close(fd);
  ::rmdir(folder.c_str());
}

bool moveFileNoReplace(const std::string& source, const std::string& target) {
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EINVAL || errno == ENOSYS) {
    // A file system without the no-replace flag: look first, then rename.
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0) return false;
    if (::rename(source.c_str(), target.c_str()) == 0) return true;
  }
  if (errno != EXDEV) return false;

  struct stat st;
  if (::lstat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool copied = copyBytes(in, out) && ::fchmod(out, st.st_mode & 0777) == 0;
  ::close(in);
  if (::close(out) != 0) copied = false;
  if (!copied) {
    ::unlink(target.c_str());
    return false;
  }
  // Like a move across volumes elsewhere: a source that cannot be deleted
  // stays, and the move still counts as done.
  ::unlink(source.c_str());
  return true;
}

bool copyFile(const std::string& source, const std::string& target) {
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat from;
  struct stat to;
  bool targetExists = ::stat(target.c_str(), &to) == 0;
  // Copying a file onto itself would truncate it before reading a byte.
  if (::fstat(in, &from) != 0 || !S_ISREG(from.st_mode) || (targetExists && hasNoWriteBit(to)) ||
      (targetExists && to.st_dev == from.st_dev && to.st_ino == from.st_ino)) {
    ::close(in);
    return false;
  }
  int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, from.st_mode & 0777);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool copied = copyBytes(in, out) && ::fchmod(out, from.st_mode & 0777) == 0;
  ::close(in);
  if (::close(out) != 0) copied = false;
  return copied;
}

bool isSameFile(const std::string& a, const std::string& b) {
  struct stat first;
  struct stat second;
  return ::lstat(a.c_str(), &first) == 0 && ::lstat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino && first.st_nlink == 1;
}

mode_t currentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  return 022;
}

std::optional<std::string> canonicalPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return std::nullopt;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

ScopedCurrentFolder::ScopedCurrentFolder(const std::string& folder) {
  previous_ = ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  entered_ = previous_ >= 0 && ::chdir(folder.c_str()) == 0;
}

ScopedCurrentFolder::~ScopedCurrentFolder() {
  if (previous_ < 0) return;
  if (entered_ && ::fchdir(previous_) != 0) {
    // Nothing sensible is left to do: the folder we came from is gone.
  }
  ::close(previous_);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::open(const std::string& path) {
  if (fd_ >= 0) close();
  if (isReadOnlyFile(path)) {
    errno = EACCES;
    return false;
  }
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  return fd_ >= 0;
}

bool OutputFile::writeAt(const void* data, std::size_t size, std::uint64_t offset) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool OutputFile::setMode(mode_t mode) { return ::fchmod(fd_, mode) == 0; }

bool OutputFile::close() {
  if (fd_ < 0) return true;
  int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0;
}

}  // namespace lumo
