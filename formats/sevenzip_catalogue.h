// The catalogue of a 7z archive read from its own header: which solid block
// holds each entry, how each block is coded, and the size and CRC-32 stored
// for each entry. The decoder that unpacks the entries does not hand these
// out; the installer needs them to check every entry with its own code and
// to give each block its own reader.
//
// Only what a header says is read: nothing of the packed data is decoded
// besides a compressed header itself (LZMA or LZMA2, through liblzma).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"

namespace lumo {

struct CatalogueEntry {
  std::string name;                   // UTF-8, as stored
  bool hasData = false;               // false for folders and empty files
  bool directory = false;
  bool link = false;                  // a symbolic link (its data is the target)
  std::uint64_t size = 0;
  std::optional<std::uint32_t> crc;   // when the archive stores one
  std::uint32_t block = 0;            // for entries with data
  // The modification time in seconds since 1970 (UTC), when the archive
  // stores one.
  std::optional<std::int64_t> modified;
};

// One coder of a block that is a plain chain (one packed stream, each
// coder one stream in and one out).
struct CatalogueCoder {
  std::string method;                 // as in `coders`: "LZMA2", "BCJ", ...
  std::string properties;             // as stored
  std::uint64_t unpackSize = 0;       // of what it puts out
};

struct CatalogueBlock {
  std::string coders;                 // e.g. "BCJ + LZMA2:d=32m", outermost first
  std::uint64_t unpackSize = 0;
  std::uint64_t dictionary = 0;       // of its LZMA, LZMA2 or PPMd coder; 0 otherwise
  // Where the packed data lies, from the start of the archive, and the
  // coders in the order they decode it (the one that reads the packed data
  // first). Empty for a block with several packed streams (BCJ2).
  std::uint64_t packOffset = 0;
  std::uint64_t packSize = 0;
  std::vector<CatalogueCoder> chain;
};

struct SevenZipCatalogue {
  std::vector<CatalogueEntry> entries;  // in archive order
  std::vector<CatalogueBlock> blocks;
};

inline constexpr std::uint64_t kToEnd = ~std::uint64_t{0};

// Reads the catalogue of the archive that occupies `size` bytes of `fd` from
// `offset` (read with pread; kToEnd: up to the end of the file). A failure
// says why when the header is damaged, cut short or coded in a way this
// reader does not know (an encrypted header).
Result<SevenZipCatalogue> readSevenZipCatalogue(int fd, std::uint64_t offset, std::uint64_t size);

}  // namespace lumo
