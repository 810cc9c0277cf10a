// The file operations of unpacking: folders, links, the temporary archive
// and entries written beside their target and renamed over it only once
// they are whole and checked, so that a failed or interrupted unpacking
// never leaves a cut file where a whole one stood.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumo {

enum class NodeKind { Missing, Folder, Link, Other };

// What `path` names, links not followed.
NodeKind nodeKind(const std::string& path);

// Creates the folder `path` (its parent must exist); an existing one is
// fine. False when it cannot be created.
bool createFolder(const std::string& path);

// Writes a symbolic link at `path` that points to `target`.
bool makeSymbolicLink(const std::string& target, const std::string& path);

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
bool canReplaceInPlace(const std::string& target);

// A new file in the folder of its target, renamed over the target by
// commit(); dropped by discard() or the destructor.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  bool open(const std::string& target);
  // Writes all bytes at `offset`; false on any failure or short write.
  bool writeAt(const void* data, std::size_t size, std::uint64_t offset);
  bool setMode(mode_t mode);
  // Closes the file and renames it over the target.
  bool commit();
  void discard();

 private:
  int fd_ = -1;
  std::string target_;
  std::string temporary_;
};

}  // namespace lumo
