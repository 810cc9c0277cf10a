// Open files and what the file formats need to know about them: reading at
// an offset, copying a range between descriptors, a file's facts, locking a
// file that is replaced by rename, and taking a file to the disk. The
// formats above make no system call of their own.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace lumo {

struct FileFacts {
  bool regular = false;
  std::uint64_t size = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  mode_t permissions = 0;  // the mode's permission bits (07777)
};

// The facts of the file at `path` (links followed), or of an open
// descriptor; nothing when it cannot be examined.
std::optional<FileFacts> factsOf(const std::string& path);
std::optional<FileFacts> factsOf(int fd);

// "cannot open PATH: REASON" when the file cannot be opened for reading.
std::string cannotOpenText(const std::string& path);

// A descriptor opened for reading (not inherited by programs started later),
// closed with its owner; get() is negative when the open failed.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads exactly `size` bytes at `offset`; false on a short read or an error.
bool readExactlyAt(int fd, void* buffer, std::size_t size, std::uint64_t offset);

// Copies `size` bytes from `offset` of `from` to the current position of
// `to`: in the kernel where it can, through a buffer where it cannot.
bool copyRange(int from, std::uint64_t offset, std::uint64_t size, int to);

// Closes a descriptor; for owners that hand one over.
void closeDescriptor(int fd);

// Whether `fd` is an open descriptor that may be written to.
bool isOpenForWriting(int fd);

// Takes a descriptor that the process was given for its reports (a pipe
// somebody reads): programs started later do not inherit it (unless it is
// one of the standard descriptors 0 to 2, which they need), so the reader
// sees its end when this process ends, and a write after the reader has gone
// fails with EPIPE instead of ending the process. Programs started later
// still get the default reaction to a broken pipe.
void keepReportDescriptor(int fd);

// This process's number, to tell a child made by fork() from its parent.
long processId();

// Whether two paths name the same file; two paths of which one cannot be
// examined are compared as text.
bool sameFile(const std::string& a, const std::string& b);

// Takes the file as it now is at `path`, and its name in the folder, to the
// disk.
void flushToDisk(const std::string& path);

// A descriptor of a file, locked with flock. The file is replaced by rename
// on every write, so after the lock is granted the descriptor must still name
// the file at the path; otherwise a writer replaced it meanwhile and the
// open is tried again. A file opened for writing is created when missing.
class LockedFile {
 public:
  enum class Mode { Read, Write };

  LockedFile(const std::string& path, Mode mode);
  ~LockedFile();
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  bool created() const { return created_; }
  // Gives up the descriptor, unlocked, to a caller that closes it.
  int release();
  mode_t mode() const { return mode_; }
  // The whole file from its start.
  bool readAll(std::string& out) const;

 private:
  void close();

  int fd_ = -1;
  bool created_ = false;
  mode_t mode_ = 0644;
};

}  // namespace lumo
