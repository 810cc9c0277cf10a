// The file operations of unpacking: folders, links, the temporary archive
// and entries written beside their target and renamed over it only once
// they are whole and checked, so that a failed or interrupted unpacking
// never leaves a cut file where a whole one stood.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/result.h"

namespace lumo {

// The components of the entry name `path` ("/" or "\\" between them) with
// "." dropped and ".." applied to `base`, the components of the folder it is
// read from; nothing when `path` is absolute or would climb above the start.
std::optional<std::vector<std::string>> resolveInside(std::string_view path, std::vector<std::string> base);

// The rules that keep an archive's entries inside the folder they are
// unpacked into, for a listing read in archive order before anything is
// written: no absolute name, no ".." that climbs out, no link that points
// out, and no name that leads out through a link listed before it.
class EntryRules {
 public:
  // Nothing when the entry keeps to the rules, otherwise why not.
  std::optional<std::string> check(std::string_view name, bool link, std::string_view linkTarget);

 private:
  // Where `parts` lead once the links listed so far are followed.
  std::optional<std::vector<std::string>> followLinks(std::vector<std::string> parts) const;

  std::map<std::string, std::vector<std::string>> links_;  // a link's name -> where it leads
};

enum class NodeKind { Missing, Folder, Link, Other };

// What `path` names, links not followed.
NodeKind nodeKind(const std::string& path);

// Creates the folder `path` (its parent must exist); an existing one is
// fine.
Result<void> createFolder(const std::string& path);

// Writes a symbolic link at `path` that points to `target`.
Result<void> makeSymbolicLink(const std::string& target, const std::string& path);

// Creates (or truncates) `path` for reading and writing, never through a
// link; -1 (and errno) when it cannot be created.
int createScratchFile(const std::string& path);
void closeScratchFile(int fd);

// True when the file at `path` may be read by this process.
bool canReadFile(const std::string& path);

// Removes the name `path` (a file or a link, never a folder).
bool removeName(const std::string& path);

// True when `target` may be replaced by an unpacked entry: it does not
// exist, or it is a regular file that is not read-only and that could be
// opened for writing (not a running program). Folders, links and the rest
// are not replaceable; the caller moves them aside.
Result<void> canReplaceInPlace(const std::string& target);

// A new file in the folder of its target, unnamed until commit() gives it
// the target's name; dropped by discard() or the destructor.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  Result<void> open(const std::string& target);
  // Writes all bytes at `offset`; false on any failure or short write.
  bool writeAt(const void* data, std::size_t size, std::uint64_t offset);
  bool setMode(mode_t mode);
  // Closes the file and renames it over the target.
  Result<void> commit();
  void discard();

 private:
  PendingFile file_;
};

}  // namespace lumo
