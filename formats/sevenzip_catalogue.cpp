#include "formats/sevenzip_catalogue.h"

#include <lzma.h>

#include <cstring>
#include <stdexcept>

#include "formats/resource_bundle.h"
#include "platform/file_handles.h"

namespace lumo {
namespace {

// A header larger than this is not a header an installer would carry; the
// limit keeps a damaged size from asking for gigabytes.
constexpr std::uint64_t kMaxHeaderSize = 256ull << 20;
constexpr std::uint64_t kMaxCount = 1u << 24;
constexpr unsigned char kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};

enum Property : std::uint64_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kArchiveProperties = 0x02,
  kAdditionalStreamsInfo = 0x03,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kName = 0x11,
  kModificationTime = 0x14,
  kAttributes = 0x15,
  kEncodedHeader = 0x17,
};

struct Damaged : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Coder {
  std::string id;  // raw method id bytes
  std::string properties;
  std::uint64_t inStreams = 1;
  std::uint64_t outStreams = 1;
};

struct Folder {
  std::vector<Coder> coders;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> bindPairs;  // in index, out index
  std::vector<std::uint64_t> packedStreams;
  std::vector<std::uint64_t> unpackSizes;  // one per out stream
  std::optional<std::uint32_t> crc;
  std::uint64_t firstPackStream = 0;
  std::uint64_t substreams = 1;

  std::uint64_t unpackSize() const {
    for (std::size_t out = 0; out < unpackSizes.size(); ++out) {
      bool bound = false;
      for (const auto& pair : bindPairs) bound = bound || pair.second == out;
      if (!bound) return unpackSizes[out];
    }
    throw Damaged("a block without a final stream");
  }
};

struct StreamsInfo {
  std::uint64_t packPosition = 0;
  std::vector<std::uint64_t> packSizes;
  std::vector<Folder> folders;
  std::vector<std::uint64_t> streamSizes;  // one per unpacked stream, in order
  std::vector<std::optional<std::uint32_t>> streamCrcs;
};

class Reader {
 public:
  explicit Reader(const std::string& bytes) : data_(bytes) {}

  unsigned char byte() {
    if (at_ >= data_.size()) throw Damaged("the header ends early");
    return static_cast<unsigned char>(data_[at_++]);
  }
  std::uint64_t number() {
    unsigned char first = byte();
    unsigned char mask = 0x80;
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
      if ((first & mask) == 0) return value | (static_cast<std::uint64_t>(first & (mask - 1)) << (8 * i));
      value |= static_cast<std::uint64_t>(byte()) << (8 * i);
      mask >>= 1;
    }
    return value;
  }
  std::uint64_t count() {
    std::uint64_t value = number();
    if (value > kMaxCount) throw Damaged("a count beyond reason");
    return value;
  }
  std::uint32_t u32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(byte()) << (8 * i);
    return value;
  }
  std::string bytes(std::uint64_t size) {
    if (size > data_.size() - at_) throw Damaged("the header ends early");
    std::string out = data_.substr(at_, static_cast<std::size_t>(size));
    at_ += static_cast<std::size_t>(size);
    return out;
  }
  void expect(std::uint64_t property) {
    if (number() != property) throw Damaged("unexpected property in the header");
  }
  std::vector<bool> bits(std::uint64_t n) {
    std::vector<bool> out(static_cast<std::size_t>(n));
    unsigned char current = 0;
    for (std::uint64_t i = 0; i < n; ++i) {
      if (i % 8 == 0) current = byte();
      out[i] = (current & (0x80 >> (i % 8))) != 0;
    }
    return out;
  }
  // The "all defined" byte, then a bit field when not all are.
  std::vector<bool> definedBits(std::uint64_t n) {
    if (byte() != 0) return std::vector<bool>(static_cast<std::size_t>(n), true);
    return bits(n);
  }
  std::vector<std::optional<std::uint32_t>> digests(std::uint64_t n) {
    std::vector<bool> defined = definedBits(n);
    std::vector<std::optional<std::uint32_t>> out(static_cast<std::size_t>(n));
    for (std::uint64_t i = 0; i < n; ++i)
      if (defined[i]) out[i] = u32();
    return out;
  }

 private:
  const std::string& data_;
  std::size_t at_ = 0;
};

Folder readFolder(Reader& in) {
  Folder folder;
  std::uint64_t coders = in.count();
  if (coders == 0 || coders > 64) throw Damaged("a block with no coder or too many");
  std::uint64_t inTotal = 0, outTotal = 0;
  for (std::uint64_t i = 0; i < coders; ++i) {
    unsigned char flags = in.byte();
    if (flags & 0x80) throw Damaged("alternative coders are not supported");
    Coder coder;
    coder.id = in.bytes(flags & 0x0F);
    if (flags & 0x10) {
      coder.inStreams = in.count();
      coder.outStreams = in.count();
    }
    if (flags & 0x20) coder.properties = in.bytes(in.count());
    inTotal += coder.inStreams;
    outTotal += coder.outStreams;
    folder.coders.push_back(std::move(coder));
  }
  if (outTotal == 0 || outTotal > 64 || inTotal > 64) throw Damaged("a block with impossible streams");
  for (std::uint64_t i = 0; i + 1 < outTotal; ++i) {
    std::uint64_t inIndex = in.number(), outIndex = in.number();
    folder.bindPairs.emplace_back(inIndex, outIndex);
  }
  if (inTotal < folder.bindPairs.size()) throw Damaged("a block with impossible bindings");
  std::uint64_t packed = inTotal - folder.bindPairs.size();
  if (packed == 1) {
    for (std::uint64_t i = 0; i < inTotal; ++i) {
      bool bound = false;
      for (const auto& pair : folder.bindPairs) bound = bound || pair.first == i;
      if (!bound) folder.packedStreams.push_back(i);
    }
  } else {
    for (std::uint64_t i = 0; i < packed; ++i) folder.packedStreams.push_back(in.number());
  }
  folder.unpackSizes.resize(static_cast<std::size_t>(outTotal));
  return folder;
}

StreamsInfo readStreamsInfo(Reader& in) {
  StreamsInfo info;
  std::uint64_t property = in.number();
  if (property == kPackInfo) {
    info.packPosition = in.number();
    std::uint64_t streams = in.count();
    for (property = in.number(); property != kEnd; property = in.number()) {
      if (property == kSize) {
        for (std::uint64_t i = 0; i < streams; ++i) info.packSizes.push_back(in.number());
      } else if (property == kCrc) {
        in.digests(streams);
      } else {
        throw Damaged("unexpected property in the pack information");
      }
    }
    if (info.packSizes.size() != streams) throw Damaged("pack sizes missing");
    property = in.number();
  }
  if (property == kUnpackInfo) {
    in.expect(kFolder);
    std::uint64_t folders = in.count();
    if (in.byte() != 0) throw Damaged("external block records are not supported");
    std::uint64_t packIndex = 0;
    for (std::uint64_t i = 0; i < folders; ++i) {
      info.folders.push_back(readFolder(in));
      info.folders.back().firstPackStream = packIndex;
      packIndex += info.folders.back().packedStreams.size();
    }
    if (packIndex > info.packSizes.size()) throw Damaged("more packed streams than the archive has");
    in.expect(kCodersUnpackSize);
    for (Folder& folder : info.folders)
      for (std::uint64_t& size : folder.unpackSizes) size = in.number();
    for (property = in.number(); property != kEnd; property = in.number()) {
      if (property != kCrc) throw Damaged("unexpected property in the block information");
      auto crcs = in.digests(folders);
      for (std::uint64_t i = 0; i < folders; ++i) info.folders[i].crc = crcs[i];
    }
    property = in.number();
  }
  // Without substream information every block is one stream.
  std::vector<std::uint64_t> counts(info.folders.size(), 1);
  bool sizesRead = false;
  std::vector<std::optional<std::uint32_t>> digests;
  bool digestsRead = false;
  if (property == kSubStreamsInfo) {
    for (property = in.number(); property != kEnd; property = in.number()) {
      if (property == kNumUnpackStream) {
        for (std::uint64_t& count : counts) count = in.count();
      } else if (property == kSize) {
        sizesRead = true;
        for (std::size_t f = 0; f < info.folders.size(); ++f) {
          if (counts[f] == 0) continue;
          std::uint64_t total = info.folders[f].unpackSize(), sum = 0;
          for (std::uint64_t s = 0; s + 1 < counts[f]; ++s) {
            std::uint64_t size = in.number();
            sum += size;
            if (sum < size || sum > total) throw Damaged("entry sizes exceed their block");
            info.streamSizes.push_back(size);
          }
          info.streamSizes.push_back(total - sum);
        }
      } else if (property == kCrc) {
        std::uint64_t unknown = 0;
        for (std::size_t f = 0; f < info.folders.size(); ++f)
          if (!(counts[f] == 1 && info.folders[f].crc)) unknown += counts[f];
        digests = in.digests(unknown);
        digestsRead = true;
      } else {
        throw Damaged("unexpected property in the entry information");
      }
    }
    property = in.number();
  }
  if (property != kEnd) throw Damaged("unexpected property after the streams");
  std::size_t next = 0;
  for (std::size_t f = 0; f < info.folders.size(); ++f) {
    info.folders[f].substreams = counts[f];
    if (!sizesRead) {
      if (counts[f] > 1) throw Damaged("entry sizes missing");
      if (counts[f] == 1) info.streamSizes.push_back(info.folders[f].unpackSize());
    }
    if (counts[f] == 1 && info.folders[f].crc) {
      info.streamCrcs.push_back(info.folders[f].crc);
    } else {
      for (std::uint64_t s = 0; s < counts[f]; ++s)
        info.streamCrcs.push_back(digestsRead && next < digests.size() ? digests[next++] : std::nullopt);
    }
  }
  return info;
}

std::string methodName(const std::string& id) {
  static const std::pair<const char*, const char*> known[] = {
      {"\x00", "Copy"},          {"\x03", "Delta"},          {"\x0A", "ARM64"},         {"\x0B", "RISCV"},
      {"\x21", "LZMA2"},         {"\x03\x01\x01", "LZMA"},   {"\x03\x03\x01\x03", "BCJ"}, {"\x03\x03\x01\x1B", "BCJ2"},
      {"\x03\x03\x02\x05", "PPC"}, {"\x03\x03\x04\x01", "IA64"}, {"\x03\x03\x05\x01", "ARM"}, {"\x03\x03\x07\x01", "ARMT"},
      {"\x03\x03\x08\x05", "SPARC"}, {"\x03\x04\x01", "PPMD"}, {"\x04\x01\x08", "Deflate"}, {"\x04\x02\x02", "BZip2"},
      {"\x06\xF1\x07\x01", "AES"},
  };
  for (const auto& [bytes, name] : known) {
    std::size_t length = id.size() == 1 && id[0] == 0 ? 1 : std::strlen(bytes);
    if (id.size() == length && std::memcmp(id.data(), bytes, length) == 0) return name;
  }
  std::string hex = "method ";
  for (unsigned char c : id) hex += "0123456789ABCDEF"[c >> 4], hex += "0123456789ABCDEF"[c & 15];
  return hex;
}

std::uint32_t littleEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::uint64_t dictionaryOf(const Coder& coder, const std::string& name) {
  if (name == "LZMA" && coder.properties.size() >= 5) return littleEndian32(coder.properties, 1);
  if (name == "PPMD" && coder.properties.size() >= 5) return littleEndian32(coder.properties, 1);
  if (name == "LZMA2" && coder.properties.size() >= 1) {
    unsigned p = static_cast<unsigned char>(coder.properties[0]);
    if (p > 40) return 0;
    if (p == 40) return 0xFFFFFFFFu;
    return static_cast<std::uint64_t>(2 | (p & 1)) << (p / 2 + 11);
  }
  return 0;
}

std::string sizeText(std::uint64_t bytes) {
  if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + "m";
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + "k";
  return std::to_string(bytes);
}

CatalogueBlock describe(const Folder& folder) {
  CatalogueBlock block;
  block.unpackSize = folder.unpackSize();
  // Stored innermost first; shown the way archivers show it, filter first.
  for (auto it = folder.coders.rbegin(); it != folder.coders.rend(); ++it) {
    const Coder& coder = *it;
    std::string name = methodName(coder.id);
    std::uint64_t dictionary = dictionaryOf(coder, name);
    if (!block.coders.empty()) block.coders += " + ";
    block.coders += name;
    if (dictionary) {
      block.coders += (name == "PPMD" ? ":mem=" : ":d=") + sizeText(dictionary);
      block.dictionary = std::max(block.dictionary, dictionary);
    }
  }
  return block;
}

// The coders of a block with one packed stream and coders of one stream in
// and one out, in decoding order; empty for any other shape.
std::vector<CatalogueCoder> chainOf(const Folder& folder) {
  std::vector<CatalogueCoder> chain;
  for (const Coder& coder : folder.coders)
    if (coder.inStreams != 1 || coder.outStreams != 1) return {};
  if (folder.packedStreams.size() != 1) return {};
  // With one stream in and one out per coder, stream numbers are coder
  // numbers: a bind pair feeds coder `in` from the output of coder `out`.
  std::uint64_t current = folder.packedStreams[0];
  for (std::size_t step = 0; step < folder.coders.size(); ++step) {
    if (current >= folder.coders.size()) return {};
    const Coder& coder = folder.coders[current];
    chain.push_back({methodName(coder.id), coder.properties, folder.unpackSizes[current]});
    std::optional<std::uint64_t> next;
    for (const auto& [in, out] : folder.bindPairs)
      if (out == current) next = in;
    if (!next) return chain.size() == folder.coders.size() ? chain : std::vector<CatalogueCoder>{};
    current = *next;
  }
  return {};
}

// The archive: a descriptor and the range of it that the archive occupies.
struct Span {
  int fd;
  std::uint64_t offset;
  std::uint64_t size;
};

std::string readAt(const Span& span, std::uint64_t offset, std::uint64_t size) {
  if (offset > span.size || size > span.size - offset) throw Damaged("the archive is cut short");
  int fd = span.fd;
  offset += span.offset;
  std::string out(static_cast<std::size_t>(size), '\0');
  if (!readExactlyAt(fd, out.data(), out.size(), offset)) throw Damaged("the archive is cut short");
  return out;
}

// Decodes a compressed header: one block of one coder, LZMA or LZMA2 (what
// archivers write for headers), or stored.
std::string decodeHeader(const Span& span, const StreamsInfo& info) {
  if (info.folders.size() != 1 || info.folders[0].coders.size() != 1 || info.packSizes.empty())
    throw Damaged("a compressed header of an unknown shape");
  const Folder& folder = info.folders[0];
  const Coder& coder = folder.coders[0];
  std::uint64_t size = folder.unpackSize();
  if (size > kMaxHeaderSize || info.packSizes[0] > kMaxHeaderSize) throw Damaged("a header beyond reason");
  if (info.packPosition > kMaxHeaderSize * 64) throw Damaged("a header beyond the archive");
  std::string packed = readAt(span, 32 + info.packPosition, info.packSizes[0]);
  std::string name = methodName(coder.id);
  std::string out;
  if (name == "Copy") {
    out = packed.substr(0, static_cast<std::size_t>(size));
  } else if (name == "LZMA" || name == "LZMA2") {
    lzma_filter filters[2] = {{name == "LZMA" ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA2, nullptr},
                              {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(&filters[0], nullptr, reinterpret_cast<const uint8_t*>(coder.properties.data()),
                               coder.properties.size()) != LZMA_OK)
      throw Damaged("the header's coder properties are damaged");
    lzma_stream stream = LZMA_STREAM_INIT;
    lzma_ret status = lzma_raw_decoder(&stream, filters);
    std::free(filters[0].options);
    if (status != LZMA_OK) throw Damaged("the header cannot be decoded");
    out.resize(static_cast<std::size_t>(size));
    stream.next_in = reinterpret_cast<const uint8_t*>(packed.data());
    stream.avail_in = packed.size();
    stream.next_out = reinterpret_cast<uint8_t*>(out.data());
    stream.avail_out = out.size();
    // A raw LZMA stream need not carry an end mark: decoding stops once the
    // stated size is out.
    while (stream.avail_out > 0) {
      status = lzma_code(&stream, LZMA_FINISH);
      if (status != LZMA_OK) break;
    }
    bool whole = stream.avail_out == 0;
    lzma_end(&stream);
    if (!whole) throw Damaged("the header cannot be decoded");
  } else {
    throw Damaged("the header is coded with " + name);
  }
  if (out.size() != size) throw Damaged("the header is cut short");
  if (folder.crc && crc32Update(0, out.data(), out.size()) != *folder.crc) throw Damaged("the header fails its CRC");
  return out;
}

// Names are stored as zero-ended UTF-16LE; an unpaired surrogate becomes
// U+FFFD, as the decoder shows it.
std::string utf16Name(const std::string& bytes, std::size_t& at) {
  auto unitAt = [&](std::size_t i) -> std::uint32_t {
    if (i + 2 > bytes.size()) throw Damaged("a name runs past the header");
    return static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
  };
  std::string name;
  for (;;) {
    std::uint32_t code = unitAt(at);
    at += 2;
    if (code == 0) break;
    if (code >= 0xD800 && code < 0xDC00) {
      std::uint32_t low = unitAt(at);
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        at += 2;
      } else {
        code = 0xFFFD;
      }
    } else if (code >= 0xDC00 && code < 0xE000) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      name += static_cast<char>(code);
    } else if (code < 0x800) {
      name += static_cast<char>(0xC0 | (code >> 6));
      name += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      name += static_cast<char>(0xE0 | (code >> 12));
      name += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      name += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      name += static_cast<char>(0xF0 | (code >> 18));
      name += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      name += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      name += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return name;
}

SevenZipCatalogue readHeader(Reader& in) {
  SevenZipCatalogue catalogue;
  StreamsInfo streams;
  std::uint64_t property = in.number();
  if (property == kArchiveProperties) {
    for (std::uint64_t type = in.number(); type != kEnd; type = in.number()) in.bytes(in.number());
    property = in.number();
  }
  if (property == kAdditionalStreamsInfo) {
    readStreamsInfo(in);
    property = in.number();
  }
  if (property == kMainStreamsInfo) {
    streams = readStreamsInfo(in);
    property = in.number();
  }
  std::uint64_t files = 0;
  std::vector<bool> emptyStream, emptyFile;
  std::vector<std::string> names;
  std::vector<std::uint32_t> attributes;
  std::vector<std::optional<std::int64_t>> modified;
  if (property == kFilesInfo) {
    files = in.count();
    emptyStream.assign(files, false);
    for (std::uint64_t type = in.number(); type != kEnd; type = in.number()) {
      std::string data = in.bytes(in.number());
      Reader field(data);
      std::uint64_t empties = 0;
      for (bool empty : emptyStream) empties += empty;
      switch (type) {
        case kEmptyStream:
          emptyStream = field.bits(files);
          emptyFile.assign(files, false);
          break;
        case kEmptyFile: {
          std::vector<bool> bits = field.bits(empties);
          emptyFile.assign(files, false);
          std::size_t e = 0;
          for (std::size_t i = 0; i < files; ++i)
            if (emptyStream[i]) emptyFile[i] = bits[e++];
          break;
        }
        case kName: {
          if (field.byte() != 0) throw Damaged("external names are not supported");
          std::size_t at = 1;
          for (std::uint64_t i = 0; i < files; ++i) names.push_back(utf16Name(data, at));
          break;
        }
        case kAttributes: {
          std::vector<bool> defined = field.definedBits(files);
          if (field.byte() != 0) throw Damaged("external attributes are not supported");
          attributes.assign(files, 0);
          for (std::uint64_t i = 0; i < files; ++i)
            if (defined[i]) attributes[i] = field.u32();
          break;
        }
        case kModificationTime: {
          std::vector<bool> defined = field.definedBits(files);
          if (field.byte() != 0) throw Damaged("external times are not supported");
          modified.assign(files, std::nullopt);
          // 100-nanosecond steps since 1601-01-01.
          constexpr std::int64_t kStepsPerSecond = 10000000, kSecondsFrom1601To1970 = 11644473600;
          for (std::uint64_t i = 0; i < files; ++i) {
            if (!defined[i]) continue;
            const std::uint64_t low = field.u32();
            const std::uint64_t steps = low | (static_cast<std::uint64_t>(field.u32()) << 32);
            modified[i] = static_cast<std::int64_t>(steps / kStepsPerSecond) - kSecondsFrom1601To1970;
          }
          break;
        }
        default:
          break;  // other times, anti-items, padding: not needed here
      }
    }
    property = kEnd;
  }
  if (property != kEnd) throw Damaged("unexpected property at the end of the header");
  if (names.size() != files) throw Damaged("entries without names");

  std::uint64_t packOffset = 32 + streams.packPosition;
  std::vector<std::uint64_t> packStarts;
  for (std::uint64_t size : streams.packSizes) {
    packStarts.push_back(packOffset);
    packOffset += size;
  }
  for (const Folder& folder : streams.folders) {
    CatalogueBlock block = describe(folder);
    if (folder.packedStreams.size() == 1 && folder.firstPackStream < packStarts.size()) {
      block.packOffset = packStarts[folder.firstPackStream];
      block.packSize = streams.packSizes[folder.firstPackStream];
      block.chain = chainOf(folder);
    }
    catalogue.blocks.push_back(std::move(block));
  }
  std::size_t stream = 0;
  for (std::uint64_t i = 0; i < files; ++i) {
    CatalogueEntry entry;
    entry.name = names[i];
    entry.hasData = !emptyStream[i];
    if (!modified.empty()) entry.modified = modified[i];
    // An entry without data that is not an empty file is a folder.
    entry.directory = emptyStream[i] && !emptyFile[i];
    // Archivers on Unix keep the file's mode in the high half of the
    // attributes, marked by bit 15; a link's data is its target.
    constexpr std::uint32_t kUnixExtension = 0x8000, kReparsePoint = 0x400;
    if (!attributes.empty()) {
      std::uint32_t a = attributes[i];
      entry.link = (a & kReparsePoint) != 0 || ((a & kUnixExtension) && ((a >> 16) & 0xF000) == 0xA000);
    }
    if (entry.hasData) {
      if (stream >= streams.streamSizes.size()) throw Damaged("more entries with data than streams");
      entry.size = streams.streamSizes[stream];
      entry.crc = streams.streamCrcs[stream];
      ++stream;
    }
    catalogue.entries.push_back(std::move(entry));
  }
  // Which block each stream lies in, in order.
  std::vector<std::uint32_t> blockOfStream;
  for (std::size_t f = 0; f < streams.folders.size(); ++f)
    for (std::uint64_t s = 0; s < streams.folders[f].substreams; ++s)
      blockOfStream.push_back(static_cast<std::uint32_t>(f));
  if (blockOfStream.size() != streams.streamSizes.size() || stream != streams.streamSizes.size())
    throw Damaged("entries and streams do not match");
  stream = 0;
  for (CatalogueEntry& entry : catalogue.entries)
    if (entry.hasData) entry.block = blockOfStream[stream++];
  return catalogue;
}

}  // namespace

Result<SevenZipCatalogue> readSevenZipCatalogue(int fd, std::uint64_t offset, std::uint64_t size) {
  try {
    if (size == kToEnd) {
      std::optional<FileFacts> facts = factsOf(fd);
      if (!facts) throw Damaged("the archive cannot be read");
      std::uint64_t fileSize = facts->size;
      size = fileSize > offset ? fileSize - offset : 0;
    }
    Span span{fd, offset, size};
    std::string start = readAt(span, 0, 32);
    if (std::memcmp(start.data(), kSignature, sizeof kSignature) != 0) throw Damaged("not a 7z archive");
    if (crc32Update(0, start.data() + 12, 20) != littleEndian32(start, 8)) throw Damaged("the start header fails its CRC");
    std::uint64_t headerOffset = 0, headerSize = 0;
    for (int i = 7; i >= 0; --i) headerOffset = (headerOffset << 8) | static_cast<unsigned char>(start[12 + i]);
    for (int i = 7; i >= 0; --i) headerSize = (headerSize << 8) | static_cast<unsigned char>(start[20 + i]);
    if (headerSize > kMaxHeaderSize || headerOffset > size || 32 + headerOffset + headerSize > size)
      throw Damaged("the archive is cut short");
    if (headerSize == 0) return SevenZipCatalogue{};
    std::string header = readAt(span, 32 + headerOffset, headerSize);
    if (crc32Update(0, header.data(), header.size()) != littleEndian32(start, 28)) throw Damaged("the header fails its CRC");
    for (int depth = 0; depth < 4; ++depth) {
      Reader in(header);
      std::uint64_t property = in.number();
      if (property == kHeader) return readHeader(in);
      if (property != kEncodedHeader) throw Damaged("no header");
      StreamsInfo info = readStreamsInfo(in);
      header = decodeHeader(span, info);
    }
    throw Damaged("headers nested beyond reason");
  } catch (const Damaged& damaged) {
    return Failure{damaged.what()};
  }
}

}  // namespace lumo
