#include "formats/resource_bundle.h"

#include "platform/file_handles.h"

#include <elf.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

namespace lumo {
namespace {

constexpr char kMagic[8] = {'L', 'U', 'M', 'O', 'B', 'N', 'D', 'L'};
constexpr std::size_t kCopyBlock = 1 << 20;
// The directory entry that carries the program part's checksum.
constexpr std::string_view kProgramType = "PROGRAM";

void putU32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void putU64(std::string& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t getU32(const unsigned char* p) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

std::uint64_t getU64(const unsigned char* p) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

bool validType(std::string_view type) {
  if (type.empty() || type.size() > ResourceBundle::kMaxTypeLength) return false;
  return std::all_of(type.begin(), type.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

template <typename Header, typename Program, typename Section>
std::optional<std::uint64_t> elfEnd(int fd) {
  Header header;
  if (!readExactlyAt(fd, &header, sizeof header, 0)) return std::nullopt;
  std::uint64_t end = sizeof header;
  if (header.e_phnum > 0) {
    end = std::max<std::uint64_t>(end, header.e_phoff + std::uint64_t(header.e_phnum) * header.e_phentsize);
    for (unsigned i = 0; i < header.e_phnum; ++i) {
      Program program;
      if (header.e_phentsize < sizeof program ||
          !readExactlyAt(fd, &program, sizeof program, header.e_phoff + std::uint64_t(i) * header.e_phentsize))
        return end;
      end = std::max<std::uint64_t>(end, std::uint64_t(program.p_offset) + program.p_filesz);
    }
  }
  if (header.e_shnum > 0) {
    end = std::max<std::uint64_t>(end, header.e_shoff + std::uint64_t(header.e_shnum) * header.e_shentsize);
    for (unsigned i = 0; i < header.e_shnum; ++i) {
      Section section;
      if (header.e_shentsize < sizeof section ||
          !readExactlyAt(fd, &section, sizeof section, header.e_shoff + std::uint64_t(i) * header.e_shentsize))
        return end;
      if (section.sh_type != SHT_NOBITS)
        end = std::max<std::uint64_t>(end, std::uint64_t(section.sh_offset) + section.sh_size);
    }
  }
  return end;
}

}  // namespace

// zlib's CRC-32 is the same function and about twice as fast as a table
// of our own: the installer checks every byte of itself at each start.
std::uint32_t crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const Bytef*>(data);
  while (size > 0) {
    auto piece = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    crc = static_cast<std::uint32_t>(::crc32(crc, bytes, piece));
    bytes += piece;
    size -= piece;
  }
  return crc;
}

std::string encodeBundleDirectory(const std::vector<ResourceEntry>& entries, std::uint64_t programSize,
                                  std::uint32_t programCrc, std::uint64_t directoryOffset) {
  std::string out;
  std::vector<ResourceEntry> all;
  all.push_back({std::string(kProgramType), 0, 0, programSize, programCrc});
  all.insert(all.end(), entries.begin(), entries.end());
  for (const ResourceEntry& entry : all) {
    std::string type = entry.type.substr(0, ResourceBundle::kMaxTypeLength);
    type.resize(ResourceBundle::kMaxTypeLength, '\0');
    out += type;
    putU32(out, entry.id);
    putU32(out, entry.crc);
    putU64(out, entry.offset);
    putU64(out, entry.size);
  }
  out.append(kMagic, sizeof kMagic);
  putU64(out, programSize);
  putU64(out, directoryOffset);
  putU32(out, static_cast<std::uint32_t>(all.size()));
  putU32(out, crc32Update(0, out.data(), out.size()));
  return out;
}

std::optional<std::uint64_t> elfImageEnd(int fd) {
  unsigned char ident[EI_NIDENT];
  if (!readExactlyAt(fd, ident, sizeof ident, 0) || std::memcmp(ident, ELFMAG, SELFMAG) != 0) return std::nullopt;
  if (ident[EI_CLASS] == ELFCLASS64) return elfEnd<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr>(fd);
  if (ident[EI_CLASS] == ELFCLASS32) return elfEnd<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr>(fd);
  return std::nullopt;
}

Result<ResourceBundle> ResourceBundle::open(const std::string& path) {
  ResourceBundle bundle;
  bundle.path_ = path;
  ReadOnlyFile file(path);
  std::optional<FileFacts> facts = file.get() < 0 ? std::nullopt : factsOf(file.get());
  if (!facts) return Failure{cannotOpenText(path)};
  const std::uint64_t fileSize = facts->size;
  bundle.programSize_ = fileSize;

  auto fail = [&](const std::string& why) { return Failure{path + ": damaged resource bundle: " + why}; };

  unsigned char trailer[kTrailerSize];
  if (fileSize < kTrailerSize || !readExactlyAt(file.get(), trailer, kTrailerSize, fileSize - kTrailerSize) ||
      std::memcmp(trailer, kMagic, sizeof kMagic) != 0) {
    // No trailer. A plain program ends where its ELF image ends; anything
    // else is a bundle that lost its end, or a program that lost its tail.
    std::optional<std::uint64_t> imageEnd = elfImageEnd(file.get());
    if (imageEnd && *imageEnd < fileSize)
      return fail("data after the program but no trailer (the file is cut short or damaged)");
    if (imageEnd && *imageEnd > fileSize) return fail("the program itself is cut short");
    return bundle;
  }

  const std::uint64_t programSize = getU64(trailer + 8);
  const std::uint64_t directoryOffset = getU64(trailer + 16);
  const std::uint32_t count = getU32(trailer + 24);
  const std::uint32_t checksum = getU32(trailer + 28);
  if (count > kMaxEntries) return fail("too many entries");
  const std::uint64_t directorySize = std::uint64_t(count) * kDirectoryEntrySize;
  if (directoryOffset > fileSize - kTrailerSize || fileSize - kTrailerSize - directoryOffset != directorySize)
    return fail("the directory does not end at the trailer");
  if (programSize > directoryOffset) return fail("the program size exceeds the directory offset");

  std::string directory(directorySize, '\0');
  if (!readExactlyAt(file.get(), directory.data(), directory.size(), directoryOffset)) return fail("cannot read the directory");
  std::uint32_t crc = crc32Update(0, directory.data(), directory.size());
  crc = crc32Update(crc, trailer, kTrailerSize - 4);
  if (crc != checksum) return fail("checksum mismatch");

  std::uint64_t previousEnd = programSize;
  std::set<std::pair<std::string, std::uint32_t>> seen;
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto* p = reinterpret_cast<const unsigned char*>(directory.data()) + std::size_t(i) * kDirectoryEntrySize;
    ResourceEntry entry;
    entry.type.assign(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), kMaxTypeLength));
    entry.id = getU32(p + 8);
    entry.crc = getU32(p + 12);
    entry.offset = getU64(p + 16);
    entry.size = getU64(p + 24);
    if (!validType(entry.type)) return fail("entry " + std::to_string(i) + " has an invalid type");
    if (entry.type == kProgramType) {
      if (i != 0 || entry.id != 0 || entry.offset != 0 || entry.size != programSize)
        return fail("entry " + std::to_string(i) + " does not describe the program part");
      bundle.programCrc_ = entry.crc;
      continue;
    }
    if (entry.offset < previousEnd || entry.offset > directoryOffset || entry.size > directoryOffset - entry.offset)
      return fail("entry " + std::to_string(i) + " lies outside the resource area or overlaps another");
    if (!seen.emplace(entry.type, entry.id).second)
      return fail("resource " + entry.type + " " + std::to_string(entry.id) + " appears twice");
    previousEnd = entry.offset + entry.size;
    bundle.entries_.push_back(std::move(entry));
  }
  bundle.programSize_ = programSize;
  bundle.directoryOffset_ = directoryOffset;
  return bundle;
}

const Result<ResourceBundle>& ResourceBundle::ofThisProgram() {
  // /proc/self/exe stays readable even when the file is renamed or replaced
  // while the installer runs.
  static const Result<ResourceBundle> bundle = open("/proc/self/exe");
  return bundle;
}

std::optional<std::string> ResourceBundle::loadFromThisProgram(std::string_view type, std::uint32_t id) {
  const Result<ResourceBundle>& bundle = ofThisProgram();
  return bundle ? bundle->load(type, id) : std::nullopt;
}

const ResourceEntry* ResourceBundle::find(std::string_view type, std::uint32_t id) const {
  for (const ResourceEntry& entry : entries_)
    if (entry.type == type && entry.id == id) return &entry;
  return nullptr;
}

std::optional<std::string> ResourceBundle::load(std::string_view type, std::uint32_t id) const {
  const ResourceEntry* entry = find(type, id);
  if (!entry) return std::nullopt;
  ReadOnlyFile file(path_);
  if (file.get() < 0) return std::nullopt;
  std::string bytes(entry->size, '\0');
  if (!readExactlyAt(file.get(), bytes.data(), bytes.size(), entry->offset)) return std::nullopt;
  if (crc32Update(0, bytes.data(), bytes.size()) != entry->crc) return std::nullopt;
  return bytes;
}

bool ResourceBundle::copyTo(std::string_view type, std::uint32_t id, int fd) const {
  const ResourceEntry* entry = find(type, id);
  if (!entry) return false;
  ReadOnlyFile file(path_);
  if (file.get() < 0) return false;

  return copyRange(file.get(), entry->offset, entry->size, fd);
}

Result<void> ResourceBundle::verifyAll() const {
  if (entries_.empty() && !programCrc_) return {};
  if (!programCrc_) return Failure{"the program part carries no checksum"};
  ReadOnlyFile file(path_);
  if (file.get() < 0) return Failure{"cannot open " + path_};
  // One part after another, each read in large pieces: the whole file is
  // read once, in order, at every start.
  std::string buffer(kCopyBlock, '\0');
  auto crcOf = [&](std::uint64_t offset, std::uint64_t size) -> std::optional<std::uint32_t> {
    std::uint32_t crc = 0;
    for (std::uint64_t done = 0; done < size;) {
      std::size_t chunk = std::min<std::uint64_t>(size - done, buffer.size());
      if (!readExactlyAt(file.get(), buffer.data(), chunk, offset + done)) return std::nullopt;
      crc = crc32Update(crc, buffer.data(), chunk);
      done += chunk;
    }
    return crc;
  };
  std::optional<std::uint32_t> program = crcOf(0, programSize_);
  if (!program) return Failure{"cannot read the program part"};
  if (*program != *programCrc_) return Failure{"the program part does not match its checksum"};
  std::uint64_t end = programSize_;
  for (const ResourceEntry& entry : entries_) {
    std::string name = "resource " + entry.type + " " + std::to_string(entry.id);
    if (entry.offset != end) return Failure{"bytes before " + name + " that no checksum covers"};
    std::optional<std::uint32_t> crc = crcOf(entry.offset, entry.size);
    if (!crc) return Failure{"cannot read " + name};
    if (*crc != entry.crc) return Failure{name + " does not match its checksum"};
    end = entry.offset + entry.size;
  }
  if (end != directoryOffset_) return Failure{"bytes after the last resource that no checksum covers"};
  return {};
}

}  // namespace lumo
