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
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/digest.h"
#include "platform/text.h"

namespace lumo {
namespace {

bool hasNoWriteBit(const struct stat& st) { return S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0; }

// Copies everything from `in` to `out`, in the kernel where it can. With
// `written`, the bytes pass through here to be digested as they are written.
bool copyBytes(int in, int out, Sha256Stream* written) {
  bool kernelCopy = written == nullptr;
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
    if (written) written->update(buffer, static_cast<std::size_t>(n));
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

// The file a link at `path` names, or `path` itself.
std::string linkTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      std::string resolved(real);
      std::free(real);
      return resolved;
    }
  }
  return path;
}

// The folder part of `path` ("." for a bare name), for flushing a rename.
void flushFolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Copies the open regular file `in` to a temporary file beside `target`,
// flushes it and renames it to `target` (over an existing file when
// `replace`). Whatever fails, `target` is untouched and no temporary file
// stays; errno tells why.
bool copyIntoPlace(int in, const struct stat& from, const std::string& target, bool replace, Sha256Stream* written) {
  // Unnamed until whole: a process killed during the copy leaves nothing.
  PendingFile out;
  if (!out.create(target)) return false;
  struct stat old;
  if (replace && ::stat(target.c_str(), &old) == 0 && ::fchown(out.fd(), old.st_uid, old.st_gid) != 0) {
    // Only root may give a file away; otherwise the new file is simply ours.
  }
  bool ok = copyBytes(in, out.fd(), written) && ::fchmod(out.fd(), from.st_mode & 0777) == 0 && ::fsync(out.fd()) == 0;
  if (!ok) {
    int error = errno;
    out.discard();
    errno = error;
    return false;
  }
  if (!out.publish(replace)) return false;
  flushFolderOf(target);
  return true;
}

// The move of a regular file to another file system: a whole, flushed copy
// first, and only then the source goes.
bool moveAcross(const std::string& source, const std::string& target, bool replace, Sha256Stream* written) {
  struct stat st;
  if (::lstat(source.c_str(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = EXDEV;
    return false;
  }
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  bool copied = copyIntoPlace(in, st, target, replace, written);
  int error = errno;
  ::close(in);
  if (!copied) {
    errno = error;
    return false;
  }
  // Like a move across volumes elsewhere: a source that cannot be deleted
  // stays, and the move still counts as done.
  ::unlink(source.c_str());
  return true;
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

Result<void> deleteFile(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return systemFailure(errno);
  if (S_ISDIR(st.st_mode)) return systemFailure(EISDIR);
  if (hasNoWriteBit(st)) return systemFailure(EACCES);
  if (::unlink(path.c_str()) != 0) return systemFailure(errno);
  return {};
}

bool makeSurePathExists(const std::string& path, std::vector<std::string>* created) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    if (path[slash - 1] == '/') continue;
    std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0777) == 0) {
      if (created) created->push_back(folder);
      continue;
    }
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

Result<void> moveFileNoReplace(const std::string& source, const std::string& target) {
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return {};
  if (errno == EINVAL || errno == ENOSYS) {
    // A file system without the no-replace flag: look first, then rename.
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0) return systemFailure(EEXIST);
    if (::rename(source.c_str(), target.c_str()) == 0) return {};
  }
  if (errno != EXDEV || !moveAcross(source, target, false, nullptr)) return systemFailure(errno);
  return {};
}

Result<void> moveFile(const std::string& source, const std::string& target) {
  struct stat from;
  if (::lstat(source.c_str(), &from) != 0) return systemFailure(errno);
  if (isReadOnlyFile(target)) return systemFailure(EACCES);
  if (S_ISDIR(from.st_mode)) {
    // rename() would put a folder over an empty folder; a folder move never
    // replaces anything but a file.
    struct stat to;
    if (::lstat(target.c_str(), &to) == 0 && !S_ISDIR(to.st_mode) && ::unlink(target.c_str()) != 0)
      return systemFailure(errno);
    return moveFileNoReplace(source, target);
  }
  if (::rename(source.c_str(), target.c_str()) == 0) return {};
  if (errno != EXDEV || !moveAcross(source, target, true, nullptr)) return systemFailure(errno);
  return {};
}

Result<void> copyFile(const std::string& source, const std::string& target, Sha256Stream* written) {
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return systemFailure(errno);
  std::string destination = linkTarget(target);
  struct stat from;
  struct stat to;
  bool targetExists = ::stat(destination.c_str(), &to) == 0;
  bool ok = false;
  if (::fstat(in, &from) != 0) {
  } else if (!S_ISREG(from.st_mode)) {
    errno = EISDIR;
  } else if (targetExists && to.st_dev == from.st_dev && to.st_ino == from.st_ino) {
    ok = true;  // already there, byte for byte
  } else if (targetExists && hasNoWriteBit(to)) {
    errno = EACCES;
  } else {
    ok = copyIntoPlace(in, from, destination, true, written);
  }
  int error = errno;
  ::close(in);
  if (!ok) return systemFailure(error);
  return {};
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

std::string resolvedPath(const std::string& path, bool followLastLink) {
  bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string> parts;
  std::string last;
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(start, slash - start);
    if (!part.empty()) last = part;
    if (!part.empty() && part != ".") parts.push_back(part);
    start = slash + 1;
  }
  // A link that is the last component stays itself: its folder is resolved
  // and its name kept. "link/." and "link/.." lead through it.
  std::optional<std::string> keptName;
  if (!followLastLink && !parts.empty() && last != "." && last != "..") {
    keptName = parts.back();
    parts.pop_back();
  }
  // The longest leading part that exists is left to the kernel, which knows
  // what ".." after a link means; the rest is resolved by its text.
  std::string base;
  std::size_t known = parts.size() + 1;
  while (known-- > 0) {
    std::string prefix = absolute ? "" : ".";
    for (std::size_t i = 0; i < known; ++i) prefix.append("/").append(parts[i]);
    if (prefix.empty()) prefix.push_back('/');
    if (std::optional<std::string> real = canonicalPath(prefix)) {
      base = *real;
      break;
    }
  }
  if (known == static_cast<std::size_t>(-1)) {
    base.assign(1, '/');
    known = 0;
  }
  auto append = [&base](const std::string& name) {
    if (base != "/") base.push_back('/');
    base.append(name);
  };
  for (std::size_t i = known; i < parts.size(); ++i) {
    if (parts[i] == "..") {
      std::size_t slash = base.rfind('/');
      base.resize(slash == 0 ? 1 : slash);
    } else {
      append(parts[i]);
    }
  }
  if (keptName) append(*keptName);
  return base;
}

std::optional<std::string> findIgnoringCase(const std::string& folder, const std::string& relative) {
  std::string path = folder;
  for (std::size_t start = 0; start <= relative.size();) {
    std::size_t slash = relative.find('/', start);
    if (slash == std::string::npos) slash = relative.size();
    std::string name = relative.substr(start, slash - start);
    start = slash + 1;
    if (name.empty() || name == ".") continue;
    std::string exact = path + "/" + name;
    struct stat st;
    if (name == ".." || ::stat(exact.c_str(), &st) == 0) {
      path = exact;
      continue;
    }
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return std::nullopt;
    std::optional<std::string> match;
    const std::string wanted = toLowerAscii(name);
    while (const dirent* entry = ::readdir(dir)) {
      std::string candidate = entry->d_name;
      if (toLowerAscii(candidate) == wanted && (!match || candidate < *match)) match = candidate;
    }
    ::closedir(dir);
    if (!match) return std::nullopt;
    path += "/" + *match;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return path;
}

Failure systemFailure(int error) { return Failure{std::strerror(error)}; }

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
  return writeAllAt(fd_, std::string_view(static_cast<const char*>(data), size), offset);
}

bool OutputFile::setMode(mode_t mode) { return ::fchmod(fd_, mode) == 0; }

bool OutputFile::close() {
  if (fd_ < 0) return true;
  int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0;
}

}  // namespace lumo
