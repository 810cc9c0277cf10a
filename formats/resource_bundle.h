// Resources carried inside the installer executable: the program, then the
// entries (type, id, bytes), then a directory and a trailer (magic, directory
// offset, count, checksum). The reader checks the trailer, the directory and
// every size before it hands out a byte; a bundle cut short or with a
// damaged directory or trailer is a failure, never one with fewer resources.
//
// Layout on disk (integers little-endian):
//   program bytes | resource bytes ... | directory | trailer
//   directory entry, 32 bytes: type (8 bytes ASCII, NUL-padded), id u32,
//     CRC-32 of the resource's bytes u32, offset u64, size u64
//   trailer, 32 bytes: magic "LUMOBNDL", program size u64, directory offset
//     u64, entry count u32, CRC-32 of the directory and the trailer's first
//     28 bytes u32
// The directory ends where the trailer starts, and the trailer ends the file.
// The first directory entry, of type "PROGRAM" with offset 0, carries the
// CRC-32 of the program part; it is not a resource. With it, the resources
// laid end to end and the trailer's own checksum, every byte of the file is
// covered by a checksum.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace lumo {

struct ResourceEntry {
  std::string type;     // "INI", "DATA", "PNG", "ICON"
  std::uint32_t id = 0;
  std::uint64_t offset = 0;  // of the bytes, from the start of the file
  std::uint64_t size = 0;
  std::uint32_t crc = 0;     // CRC-32 of the bytes
};

class ResourceBundle {
 public:
  static constexpr std::size_t kDirectoryEntrySize = 32;
  static constexpr std::size_t kTrailerSize = 32;
  static constexpr std::size_t kMaxTypeLength = 8;
  static constexpr std::uint32_t kMaxEntries = 65536;

  // The bundle of the file at `path`; one without resources when the file
  // is a program with nothing appended. Fails when the file cannot be
  // opened ("cannot open PATH: why"), or when it carries bytes after its
  // program that do not form a sound bundle: cut short, or the directory or
  // trailer damaged ("PATH: damaged resource bundle: why").
  static Result<ResourceBundle> open(const std::string& path);

  // The bundle of the running executable (read once, then cached).
  static const Result<ResourceBundle>& ofThisProgram();
  // One resource of the running executable, as load() gives it; nothing
  // too when its bundle cannot be used.
  static std::optional<std::string> loadFromThisProgram(std::string_view type, std::uint32_t id);

  const std::string& path() const { return path_; }
  const std::vector<ResourceEntry>& entries() const { return entries_; }
  // Size of the program part (everything before the first entry).
  std::uint64_t programSize() const { return programSize_; }

  const ResourceEntry* find(std::string_view type, std::uint32_t id) const;

  // The bytes of a resource (meant for small ones: scripts, images); nothing
  // when it is missing or its bytes do not match their checksum.
  std::optional<std::string> load(std::string_view type, std::uint32_t id) const;

  // Copies a resource into the open file descriptor (at its current
  // position) without holding it in memory. Returns false on a read or write
  // failure. The bytes are not checksummed on the way: large payloads carry
  // their own checks.
  bool copyTo(std::string_view type, std::uint32_t id, int fd) const;

  // Reads every byte of a bundle, the program part too, and compares each
  // part with its checksum; a bundle whose program carries no checksum, or
  // with bytes between its parts, fails too. A program without resources
  // has nothing to check.
  Result<void> verifyAll() const;

 private:
  std::string path_;
  std::vector<ResourceEntry> entries_;
  std::uint64_t programSize_ = 0;
  std::optional<std::uint32_t> programCrc_;
  std::uint64_t directoryOffset_ = 0;
};

// CRC-32 (the polynomial of zip and PNG); start with 0 and feed the bytes in
// any number of pieces.
std::uint32_t crc32Update(std::uint32_t crc, const void* data, std::size_t size);

// The directory and trailer for `entries` (in file order), to be written at
// `directoryOffset` right after the last resource; `programCrc` is the
// CRC-32 of the first `programSize` bytes.
std::string encodeBundleDirectory(const std::vector<ResourceEntry>& entries, std::uint64_t programSize,
                                  std::uint32_t programCrc, std::uint64_t directoryOffset);

// Where an ELF executable's own image ends (headers, segments and section
// table), or nothing when the file is not ELF. Bytes past it were appended.
std::optional<std::uint64_t> elfImageEnd(int fd);

}  // namespace lumo
