// The entries of a 7z archive in archive order, as ArchiveExtractor gives
// them, with the bytes of some blocks decoded side by side: a block whose
// LZMA2 stream resets its dictionary on the way (as multithreaded packers
// write it) is decoded by Lzma2SplitReader on several threads. The other
// blocks, and everything when no catalogue is given, go through
// ArchiveExtractor as they are.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/sevenzip_catalogue.h"
#include "platform/archive_extractor.h"
#include "platform/lzma2_split_reader.h"

namespace lumo {

class SevenZipEntryReader {
 public:
  SevenZipEntryReader();
  ~SevenZipEntryReader();
  SevenZipEntryReader(const SevenZipEntryReader&) = delete;
  SevenZipEntryReader& operator=(const SevenZipEntryReader&) = delete;

  // Opens the archive that occupies `size` bytes of `fd` from `offset`.
  // With a catalogue (which must outlive the reader) and more than one
  // thread, the blocks that split are found here; each is decoded on up to
  // `threads` threads when its entries are read.
  bool open(int fd, std::uint64_t offset, std::uint64_t size, const SevenZipCatalogue* catalogue, unsigned threads);

  // How many blocks are decoded side by side.
  std::size_t splitBlocks() const;

  bool next(ArchiveEntry& entry);
  ArchiveExtractor::DataOutcome extract(const ArchiveExtractor::Sink& sink);
  DecodeResult result() const;
  const std::string& detail() const;

 private:
  Lzma2SplitReader* splitReaderOf(std::size_t index) const;
  bool reopenAt(std::size_t index);

  int fd_ = -1;
  std::uint64_t offset_ = 0;
  std::uint64_t size_ = 0;
  const SevenZipCatalogue* catalogue_ = nullptr;
  unsigned threads_ = 1;
  std::unique_ptr<ArchiveExtractor> archive_;
  // The extractor has decoded bytes, so passing over a block would decode it.
  bool archiveDecoded_ = false;
  std::vector<std::unique_ptr<Lzma2SplitReader>> splitReaders_;  // per block, for those that split
  std::vector<std::uint64_t> entryOffsets_;  // where each entry's bytes begin in its block
  std::size_t index_ = 0;                    // of the entry next() gives next
  std::size_t current_ = 0;
  DecodeResult failure_ = DecodeResult::Ok;  // of a split block
  std::string failureDetail_;
};

}  // namespace lumo
