#include "formats/sevenzip_entry_reader.h"

#include <algorithm>

namespace lumo {

namespace {

// Drops the bytes it is given.
bool passOver(const void*, std::size_t, std::uint64_t) { return true; }

}  // namespace

SevenZipEntryReader::SevenZipEntryReader() = default;
SevenZipEntryReader::~SevenZipEntryReader() = default;

bool SevenZipEntryReader::open(int fd, std::uint64_t offset, std::uint64_t size, const SevenZipCatalogue* catalogue,
                               unsigned threads) {
  fd_ = fd;
  offset_ = offset;
  size_ = size;
  catalogue_ = catalogue;
  threads_ = threads;
  index_ = 0;
  archive_ = std::make_unique<ArchiveExtractor>();
  archiveDecoded_ = false;
  if (!archive_->open(fd, offset, size)) return false;
  if (!catalogue || threads < 2) return true;

  // A link's target is read by the extractor as it meets the link, which
  // would decode the block a second time; such blocks are not split.
  std::vector<bool> hasLink(catalogue->blocks.size(), false);
  entryOffsets_.assign(catalogue->entries.size(), 0);
  std::vector<std::uint64_t> filled(catalogue->blocks.size(), 0);
  for (std::size_t i = 0; i < catalogue->entries.size(); ++i) {
    const CatalogueEntry& entry = catalogue->entries[i];
    if (!entry.hasData || entry.block >= catalogue->blocks.size()) continue;
    hasLink[entry.block] = hasLink[entry.block] || entry.link;
    entryOffsets_[i] = filled[entry.block];
    filled[entry.block] += entry.size;
  }
  splitReaders_.resize(catalogue->blocks.size());
  for (std::size_t b = 0; b < catalogue->blocks.size(); ++b) {
    const CatalogueBlock& block = catalogue->blocks[b];
    if (hasLink[b] || block.chain.empty() || filled[b] != block.unpackSize) continue;
    std::vector<BlockCoder> coders;
    for (const CatalogueCoder& coder : block.chain) coders.push_back({coder.method, coder.properties});
    auto reader = std::make_unique<Lzma2SplitReader>();
    if (reader->open(fd, offset + block.packOffset, block.packSize, block.unpackSize, coders, threads))
      splitReaders_[b] = std::move(reader);
  }
  return true;
}

std::size_t SevenZipEntryReader::splitBlocks() const {
  std::size_t count = 0;
  for (const auto& reader : splitReaders_) count += reader != nullptr;
  return count;
}

Lzma2SplitReader* SevenZipEntryReader::splitReaderOf(std::size_t index) const {
  if (!catalogue_ || index >= catalogue_->entries.size() || splitReaders_.empty()) return nullptr;
  const CatalogueEntry& entry = catalogue_->entries[index];
  if (!entry.hasData || entry.block >= splitReaders_.size()) return nullptr;
  return splitReaders_[entry.block].get();
}

bool SevenZipEntryReader::reopenAt(std::size_t index) {
  archive_ = std::make_unique<ArchiveExtractor>();
  archiveDecoded_ = false;
  if (!archive_->open(fd_, offset_, size_)) return false;
  ArchiveEntry passed;
  for (std::size_t i = 0; i < index; ++i)
    if (!archive_->next(passed)) return false;
  return true;
}

bool SevenZipEntryReader::next(ArchiveEntry& entry) {
  if (failure_ != DecodeResult::Ok) return false;
  if (catalogue_ && index_ < catalogue_->entries.size() && catalogue_->entries[index_].hasData) {
    // The blocks before this entry's are done with: their decoders and
    // buffers go.
    std::size_t block = catalogue_->entries[index_].block;
    for (std::size_t b = 0; b < std::min(block, splitReaders_.size()); ++b) splitReaders_[b].reset();
  }
  // An extractor that has decoded anything decodes what it passes over; a
  // new one passes over a split block's bytes without touching them.
  if (archiveDecoded_ && splitReaderOf(index_) && !reopenAt(index_)) return false;
  if (!archive_->next(entry)) return false;
  current_ = index_++;
  return true;
}

ArchiveExtractor::DataOutcome SevenZipEntryReader::extract(const ArchiveExtractor::Sink& sink) {
  Lzma2SplitReader* reader = splitReaderOf(current_);
  if (!reader) {
    archiveDecoded_ = true;
    return archive_->extract(sink);
  }
  const CatalogueEntry& entry = catalogue_->entries[current_];
  // Entries whose bytes were not asked for lie between.
  ArchiveExtractor::DataOutcome outcome = ArchiveExtractor::DataOutcome::Done;
  if (entryOffsets_[current_] > reader->position()) outcome = reader->read(entryOffsets_[current_] - reader->position(), passOver);
  if (outcome == ArchiveExtractor::DataOutcome::Done && entryOffsets_[current_] == reader->position())
    outcome = reader->read(entry.size, sink);
  else if (outcome == ArchiveExtractor::DataOutcome::Done)
    outcome = ArchiveExtractor::DataOutcome::DecodeFailed;  // the entry's bytes have gone by
  if (outcome == ArchiveExtractor::DataOutcome::DecodeFailed && failure_ == DecodeResult::Ok) {
    failure_ = reader->result() == DecodeResult::Ok ? DecodeResult::DataError : reader->result();
    failureDetail_ = reader->result() == DecodeResult::Ok ? "an entry's bytes were read twice" : reader->detail();
  }
  return outcome;
}

DecodeResult SevenZipEntryReader::result() const {
  return failure_ != DecodeResult::Ok ? failure_ : archive_ ? archive_->result() : DecodeResult::ReadError;
}

const std::string& SevenZipEntryReader::detail() const {
  static const std::string none;
  return failure_ != DecodeResult::Ok ? failureDetail_ : archive_ ? archive_->detail() : none;
}

}  // namespace lumo
