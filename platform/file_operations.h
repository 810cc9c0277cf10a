// File and folder operations with the meanings the commands rely on, so that
// a command reads like the operation it performs and not like POSIX.
//
// Read-only: a file without any write bit (mode & 0222 == 0). Root ignores
// permission bits, so the kernel would let root delete or overwrite such a
// file; these operations refuse it explicitly, the way a read-only attribute
// refuses everybody. Deleting a read-only file, overwriting it and replacing
// it by a move or a copy all fail; moving it aside (a rename) works.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace lumo {

class Sha256Stream;

// True for a regular file (not a link) without any write bit.
bool isReadOnlyFile(const std::string& path);

// True when the path names anything that exists, following links.
bool pathFileExists(const std::string& path);

// True when the path names a folder, following links.
bool isFolder(const std::string& path);

// True for a regular file (links followed) that this process may run.
bool isExecutableFile(const std::string& path);

// Deletes a file or a symbolic link (never what it points to). Folders and
// read-only files are refused; a missing file is a failure.
Result<void> deleteFile(const std::string& path);

// Creates every missing folder of `path` up to its last "/", the way a path
// ending in "/" makes its last component a folder too. Stops at the first
// folder that cannot be created. `created` gets the folders made here,
// outermost first.
bool makeSurePathExists(const std::string& path, std::vector<std::string>* created = nullptr);

// Deletes every file below `folder` and then the emptied folders, then
// `folder`. Symbolic links are deleted, never followed; folders on another
// file system (mount points) are not entered; read-only files stay, and so
// do the folders that hold them. `folder` itself may be a link: the link goes.
void removeTree(const std::string& folder);

// Renames `source` to `target`, which must not exist; across file systems a
// file is copied whole (see moveFile) and only then is the source deleted.
// Folders move only within one file system.
Result<void> moveFileNoReplace(const std::string& source, const std::string& target);

// Moves `source` to `target`, replacing a file there in one step. Across
// file systems the file is copied into place as copyFile does and the
// source is deleted only once the copy is whole and flushed; a source that
// cannot be deleted then stays and the move still counts as done. Folders
// move only within one file system and never onto something that exists.
// A read-only target is refused. A failure when `target` was not replaced;
// the source and the old target are then as they were.
Result<void> moveFile(const std::string& source, const std::string& target);

// Copies the bytes and the permission bits of the regular file `source` to
// `target` without ever leaving a cut file there: the bytes go to a
// temporary file beside `target`, are flushed and renamed over it, so
// `target` holds the old file or the whole new one. A link at `target` is
// followed (the file it names is replaced). Fails when `target` is
// read-only or a folder, or the copy does not fit (nothing changed); a copy
// onto the file itself succeeds without a write (and `written`, which
// digests the bytes as they are written, sees none).
Result<void> copyFile(const std::string& source, const std::string& target, Sha256Stream* written = nullptr);

// True when both names lead to one and the same file (not merely to two
// hard links of it).
bool isSameFile(const std::string& a, const std::string& b);

// The process umask, read without changing it.
mode_t currentUmask();

// The canonical path (links resolved), or nothing when it cannot be resolved.
std::optional<std::string> canonicalPath(const std::string& path);

// The path the kernel reaches through `path`: repeated "/", "." and ".."
// resolved and every symbolic link on the way followed, the last component
// included unless `followLastLink` is false. The part that does not exist
// (yet) is resolved by its text alone. A relative path is taken from the
// current folder.
std::string resolvedPath(const std::string& path, bool followLastLink = true);

// `relative` below `folder` as it is on disk. Scripts are written for a
// file system that ignores case: a component that does not exist with its
// exact name is matched against the listing of its folder without regard
// to ASCII case (the lowest such name when several differ only in case).
// Nothing when some component has no match at all.
std::optional<std::string> findIgnoringCase(const std::string& folder, const std::string& relative);

// The failure a system call reports with the errno value `error`: its
// text ("No space left on device"), for the platform's own Results.
Failure systemFailure(int error);

// Makes `folder` the process's current folder for the object's lifetime and
// restores the previous one afterwards (even when that one has been renamed).
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const std::string& folder);
  ~ScopedCurrentFolder();
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;
  bool entered() const { return entered_; }

 private:
  int previous_ = -1;
  bool entered_ = false;
};

// A file opened for writing from its start, created or truncated. Opening
// fails on a read-only file, a folder, a symbolic link (never followed) and
// a program that is running (ETXTBSY), which are the targets that cannot be
// written in place.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool open(const std::string& path);
  // Writes all bytes at `offset`; false on any failure or short write.
  bool writeAt(const void* data, std::size_t size, std::uint64_t offset);
  // Sets the permission bits on the open file.
  bool setMode(mode_t mode);
  bool close();
  bool isOpen() const { return fd_ >= 0; }
  int descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace lumo
