#include "platform/unpacked_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/atomic_file.h"
#include "platform/file_operations.h"

namespace lumo {

NodeKind nodeKind(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return NodeKind::Missing;
  if (S_ISLNK(st.st_mode)) return NodeKind::Link;
  if (S_ISDIR(st.st_mode)) return NodeKind::Folder;
  return NodeKind::Other;
}

bool createFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST; }

bool makeSymbolicLink(const std::string& target, const std::string& path) {
  return ::symlink(target.c_str(), path.c_str()) == 0;
}

int createScratchFile(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
}

void closeScratchFile(int fd) {
  if (fd >= 0) ::close(fd);
}

bool canReadFile(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

bool removeName(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool canReplaceInPlace(const std::string& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISREG(st.st_mode) || isReadOnlyFile(target)) return false;
  // Opening for writing, without truncating, tells a running program
  // (ETXTBSY) and a file the user may not write from a replaceable one.
  int fd = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

ReplacementFile::~ReplacementFile() { discard(); }

bool ReplacementFile::open(const std::string& target) {
  discard();
  std::size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  // Short and hidden whatever the length of the target's name.
  std::string temporary = folder + ".lumo-XXXXXX";
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  fd_ = fd;
  target_ = target;
  temporary_ = temporary;
  return true;
}

bool ReplacementFile::writeAt(const void* data, std::size_t size, std::uint64_t offset) {
  return writeAllAt(fd_, std::string_view(static_cast<const char*>(data), size), offset);
}

bool ReplacementFile::setMode(mode_t mode) { return ::fchmod(fd_, mode) == 0; }

bool ReplacementFile::commit() {
  if (fd_ < 0) return false;
  bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (!closed || ::rename(temporary_.c_str(), target_.c_str()) != 0) {
    discard();
    return false;
  }
  temporary_.clear();
  return true;
}

void ReplacementFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

}  // namespace lumo
