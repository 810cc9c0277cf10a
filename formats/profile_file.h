// INI files with the semantics of the Windows profile functions: sections and
// keys match without regard to letter case, values are trimmed, a missing key
// reads as the empty text, every write goes straight to the file and keeps all
// other lines byte for byte, and the file is created by the first write.
//
// A write replaces the whole file atomically (temporary file, rename), so a
// crash or a full disk never leaves a cut file behind. Access is serialised
// inside the process and, through flock on the file itself, across
// processes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_handles.h"

namespace lumo {

// How a file's text is stored. AsFound takes the encoding the file has: UTF-8
// when it starts with a UTF-8 byte-order mark or all its bytes are valid
// UTF-8, GBK otherwise; a file that is missing or empty is written in UTF-8.
enum class TextEncoding { Gbk, Utf8, AsFound };

// When a write reaches the disk.
enum class Durability {
  // Each write is flushed (fsync) before it returns.
  EveryWrite,
  // For files written in bursts (the working script): a write is flushed
  // before it returns when no write of the file was flushed in the last
  // kGroupedFlushInterval; otherwise a background flush takes it and every
  // write after it to the disk at most that long later. A burst thus costs
  // one flush per interval instead of one per write. Every write is still
  // whole at once for every reader; a power cut may lose the last interval
  // of writes, not the file (ext4 writes a replacing file's data before the
  // rename that installs it).
  Grouped,
};

inline constexpr int kGroupedFlushIntervalMs = 100;

// Flushes every grouped write that still waits for its background flush;
// for a process about to end with _exit. A normal exit does it by itself.
void flushProfileFiles();

// Why an INI file cannot hold key=value in the section as one entry, or
// nothing when it can: a line break ends the entry and starts lines of its
// own (a forged section header among them), a NUL cuts the text, a key that
// begins with "[" or ";" reads as a header or a comment, a key with "=" is
// split elsewhere, a section name with "]" ends early.
std::optional<std::string> whyEntryCannotBeWritten(std::string_view section, std::string_view key,
                                                   std::string_view value);

struct ProfileEntry {
  int line = 0;  // counted from 1
  std::string key;
  std::string value;  // as read() gives it
};

class ProfileFile {
 public:
  ProfileFile(std::string path, TextEncoding encoding, Durability durability = Durability::EveryWrite);

  const std::string& path() const { return path_; }

  // The value of `key` in `section`, or nothing when the file, the section
  // or the key is missing. The value is trimmed; one pair of enclosing
  // double or single quotes is removed, as the Windows functions do.
  std::optional<std::string> read(std::string_view section, std::string_view key) const;

  // Every entry of the section, in file order, as read() sees them (only the
  // first of two entries with one key is ever read). Empty when the file or
  // the section is missing.
  std::vector<ProfileEntry> entries(std::string_view section) const;

  // Writes key=value into the section, adding the section at the end of the
  // file or the key after the section's last entry when they are missing.
  // Returns false when the file could not be written, or when it cannot
  // hold the entry (whyEntryCannotBeWritten); the old file is then left
  // whole.
  bool write(std::string_view section, std::string_view key, std::string_view value);

  // Removes the key's line. Returns false only when the file could not be
  // written.
  bool remove(std::string_view section, std::string_view key);

 private:
  // Puts the new content in place with the file's durability.
  bool replace(std::string_view content, mode_t mode);

  std::string path_;
  TextEncoding encoding_;
  Durability durability_;
};

}  // namespace lumo
