// Whole-file replacement that never leaves a cut file behind: the new bytes
// go to a temporary file beside the target, are flushed to disk and renamed
// over it, so a reader sees either the old file or the new one.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <cstdint>
#include <string_view>

namespace lumo {

// A file that has no name while it is written, so that a process killed
// half way leaves nothing behind, and that takes its target's name only once
// it is whole. Where the file system cannot make unnamed files, it is
// written under a hidden temporary name beside its target instead.
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Opens a new, empty file for reading and writing in the folder of
  // `target`; false (and errno) when it cannot be made.
  bool create(const std::string& target, mode_t mode = 0600);
  int fd() const { return fd_; }
  // Closes the file and gives it the target's name, over a file of that
  // name when `replace`, else only when there is none (EEXIST). False (and
  // errno) when it cannot; the file is gone then.
  bool publish(bool replace = true);
  // Drops the file; nothing of it stays.
  void discard();

 private:
  // Gives the unnamed file the name `path`.
  bool linkTo(const std::string& path) const;

  int fd_ = -1;
  std::string target_;
  std::string named_;  // the temporary name, where unnamed files are not possible
};

// Writes every byte of `data` to `fd`, going on after interrupted or short
// writes. False when the descriptor takes no more (a full disk, an error).
bool writeAll(int fd, std::string_view data);
// The same at `offset`, leaving the descriptor's own position alone.
bool writeAllAt(int fd, std::string_view data, std::uint64_t offset);

// Replaces (or creates) the file at `path` with `content` and gives it
// `mode`. A symbolic link at `path` is followed, so the file it names is
// replaced and the link stays. When the process may, the new file keeps the
// owner of the file it replaces. Returns false when nothing was changed.
// Without `flush` the new bytes are not waited for on the disk: readers
// still see the old file or the new one whole, and the caller flushes later.
bool replaceFileAtomically(const std::string& path, std::string_view content, mode_t mode, bool flush = true);

// Creates the file at `path` anew with `content`, flushed to disk. Whatever
// stood there is deleted first and the new file is created exclusively and
// never through a link, so a link planted in a shared folder is not
// followed. A file that cannot be written whole is deleted again. Returns
// false (with the reason on the debug channel) when there is no whole file.
bool createFreshFile(const std::string& path, std::string_view content);

// A file to be rewritten in place: its bytes and its permission bits.
struct RewritableFile {
  std::string content;
  mode_t mode = 0;
};

// Reads the regular file at `path` when it may be rewritten in place: it
// opens for reading and writing and is not read-only (see file_operations.h).
// Nothing for a missing, unreadable, read-only or non-regular file.
std::optional<RewritableFile> readRewritableFile(const std::string& path);

}  // namespace lumo
