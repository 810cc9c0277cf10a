// The 7z decoder: walks the entries of a 7z archive in archive order and
// streams each entry's bytes to the caller, one block at a time, so that
// memory stays bounded by the decoder's dictionary and a block buffer
// whatever the size of a solid block. Sizes and CRC-32 values are checked
// inside the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct archive;

namespace lumo {

// The outcome of a decoding run, numbered the way the installer's messages
// number them.
enum class DecodeResult : int {
  Ok = 0,
  DataError = 1,       // compressed data that cannot be decoded
  OutOfMemory = 2,
  CrcError = 3,        // unpacked data or header does not match its CRC-32
  Unsupported = 4,     // a method or filter the decoder does not have
  InputEnd = 6,        // the archive is cut short
  ReadError = 8,       // reading the archive file failed
  BadArchive = 16,     // the archive's structure is damaged
  NotAnArchive = 17,   // no 7z signature
};

enum class EntryKind { File, Directory, Link };

struct ArchiveEntry {
  std::string name;        // as stored (UTF-8), components separated by "/"
  EntryKind kind = EntryKind::File;
  std::string linkTarget;  // for links
  std::uint32_t mode = 0;  // permission bits; no write bit means read-only
  std::uint64_t size = 0;
};

class ArchiveExtractor {
 public:
  ArchiveExtractor();
  ~ArchiveExtractor();
  ArchiveExtractor(const ArchiveExtractor&) = delete;
  ArchiveExtractor& operator=(const ArchiveExtractor&) = delete;

  // Opens the archive on a readable, seekable descriptor (not taken over).
  // Several extractors may read one descriptor at once. The archive may
  // occupy `size` bytes from `offset` of a larger file.
  static constexpr std::uint64_t kWholeFile = ~std::uint64_t{0};
  bool open(int fd, std::uint64_t offset = 0, std::uint64_t size = kWholeFile);

  // The next entry in archive order; false at the end or on a failure
  // (result() tells which).
  bool next(ArchiveEntry& entry);

  // Receives the bytes of the current entry at their offset; returns false
  // to stop (the output cannot be written).
  using Sink = std::function<bool(const void* data, std::size_t size, std::uint64_t offset)>;
  enum class DataOutcome { Done, DecodeFailed, SinkFailed };
  // Decodes the current entry's bytes into `sink`. An entry whose bytes are
  // not read is skipped by next().
  DataOutcome extract(const Sink& sink);

  DecodeResult result() const { return result_; }
  // The decoder's own words about the failure, for the trace.
  const std::string& detail() const { return detail_; }

 private:
  void fail(int status);
  struct Source;

  std::unique_ptr<Source> source_;
  ::archive* archive_ = nullptr;
  DecodeResult result_ = DecodeResult::Ok;
  std::string detail_;
};

}  // namespace lumo
