#include "platform/unpacked_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/atomic_file.h"
#include "platform/file_operations.h"
#include "platform/paths.h"

namespace lumo {
namespace {

// A link is followed at most this often on one name, as the kernel does.
constexpr int kMaxLinksFollowed = 40;

std::string joinedParts(const std::vector<std::string>& parts, std::size_t count) {
  std::string path;
  for (std::size_t i = 0; i < count; ++i) path += (i ? "/" : "") + parts[i];
  return path;
}

}  // namespace

std::optional<std::vector<std::string>> resolveInside(std::string_view path, std::vector<std::string> base) {
  std::string native = nativePath(std::string(path));
  if (!native.empty() && native[0] == '/') return std::nullopt;
  std::size_t start = 0;
  while (start <= native.size()) {
    std::size_t slash = native.find('/', start);
    if (slash == std::string::npos) slash = native.size();
    std::string part = native.substr(start, slash - start);
    if (part == "..") {
      if (base.empty()) return std::nullopt;
      base.pop_back();
    } else if (!part.empty() && part != ".") {
      base.push_back(part);
    }
    start = slash + 1;
  }
  return base;
}

std::optional<std::vector<std::string>> EntryRules::followLinks(std::vector<std::string> parts) const {
  for (int followed = 0;;) {
    bool replaced = false;
    for (std::size_t count = 1; count <= parts.size() && !replaced; ++count) {
      auto link = links_.find(joinedParts(parts, count));
      if (link == links_.end()) continue;
      if (++followed > kMaxLinksFollowed) return std::nullopt;
      std::vector<std::string> through = link->second;
      through.insert(through.end(), parts.begin() + static_cast<std::ptrdiff_t>(count), parts.end());
      parts = std::move(through);
      replaced = true;
    }
    if (!replaced) return parts;
  }
}

std::optional<std::string> EntryRules::check(std::string_view name, bool link, std::string_view linkTarget) {
  std::optional<std::vector<std::string>> parts = resolveInside(name, {});
  if (!parts) return "its name leaves the target folder";
  // The folders on the way may be links listed earlier.
  std::vector<std::string> folder(parts->begin(), parts->end() - (parts->empty() ? 0 : 1));
  std::optional<std::vector<std::string>> realFolder = followLinks(folder);
  if (!realFolder) return "it leads through too many links";
  if (!link) return std::nullopt;
  std::optional<std::vector<std::string>> target =
      linkTarget.empty() ? std::nullopt : resolveInside(linkTarget, *realFolder);
  if (!target) return "it is a link that points out of the target folder";
  // Where it leads once earlier links are followed stays inside too, as
  // long as those do.
  std::optional<std::vector<std::string>> real = followLinks(*target);
  if (!real) return "it leads through too many links";
  links_[joinedParts(*parts, parts->size())] = *real;
  return std::nullopt;
}

NodeKind nodeKind(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return NodeKind::Missing;
  if (S_ISLNK(st.st_mode)) return NodeKind::Link;
  if (S_ISDIR(st.st_mode)) return NodeKind::Folder;
  return NodeKind::Other;
}

Result<void> createFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return systemFailure(errno);
  return {};
}

Result<void> makeSymbolicLink(const std::string& target, const std::string& path) {
  if (::symlink(target.c_str(), path.c_str()) != 0) return systemFailure(errno);
  return {};
}

int createScratchFile(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
}

void closeScratchFile(int fd) {
  if (fd >= 0) ::close(fd);
}

bool canReadFile(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

bool removeName(const std::string& path) { return ::unlink(path.c_str()) == 0; }

Result<void> canReplaceInPlace(const std::string& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return systemFailure(errno);
  }
  if (!S_ISREG(st.st_mode)) return systemFailure(S_ISDIR(st.st_mode) ? EISDIR : EEXIST);
  if (isReadOnlyFile(target)) return systemFailure(EACCES);
  // Opening for writing, without truncating, tells a running program
  // (ETXTBSY) and a file the user may not write from a replaceable one.
  int fd = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return systemFailure(errno);
  ::close(fd);
  return {};
}

ReplacementFile::~ReplacementFile() { discard(); }

Result<void> ReplacementFile::open(const std::string& target) {
  if (!file_.create(target)) return systemFailure(errno);
  return {};
}

bool ReplacementFile::writeAt(const void* data, std::size_t size, std::uint64_t offset) {
  return writeAllAt(file_.fd(), std::string_view(static_cast<const char*>(data), size), offset);
}

bool ReplacementFile::setMode(mode_t mode) { return ::fchmod(file_.fd(), mode) == 0; }

Result<void> ReplacementFile::commit() {
  if (!file_.publish()) return systemFailure(errno);
  return {};
}

void ReplacementFile::discard() { file_.discard(); }

}  // namespace lumo
