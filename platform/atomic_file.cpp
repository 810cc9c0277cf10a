#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

}  // namespace

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
  std::string temp = target + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  struct stat old{};
  if (::stat(target.c_str(), &old) == 0) {
    // Keeps a file edited by root for a user owned by that user; an ordinary
    // user cannot give files away, and then the new file is simply theirs.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
    }
  }
  bool ok = writeAll(fd, content) && ::fchmod(fd, mode) == 0 && (!flush || ::fsync(fd) == 0);
  ok = (::close(fd) == 0) && ok;
  if (ok && ::rename(temp.c_str(), target.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
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
