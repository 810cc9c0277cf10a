#include "formats/payload_proof.h"

#include <algorithm>
#include <thread>

#include "formats/resource_bundle.h"
#include "formats/sevenzip_catalogue.h"
#include "formats/sevenzip_entry_reader.h"
#include "platform/archive_extractor.h"
#include "platform/unpacked_files.h"

namespace lumo {
namespace {

std::string failure(const lumo::SevenZipCatalogue& catalogue, const lumo::CatalogueEntry* entry,
                    const std::string& what, std::string_view remedy) {
  std::string text = "the payload does not unpack soundly: ";
  const std::string tail = remedy.empty() ? std::string() : "; " + std::string(remedy);
  if (!entry) return text + what + tail;
  text += "entry \"" + entry->name + "\" " + what;
  if (entry->hasData && entry->block < catalogue.blocks.size())
    text += " (block " + std::to_string(entry->block) + ", coders " + catalogue.blocks[entry->block].coders + ")";
  return text + tail;
}

}  // namespace

std::optional<std::string> provePayload(int fd, std::uint64_t offset, std::uint64_t size, std::string_view remedy) {
  lumo::Result<lumo::SevenZipCatalogue> catalogue = lumo::readSevenZipCatalogue(fd, offset, size);
  if (!catalogue) return "the payload is not a sound 7z archive: " + catalogue.why();
  const std::vector<lumo::CatalogueEntry>& entries = catalogue->entries;

  // The reader Out uses, blocks split the same way.
  lumo::SevenZipEntryReader archive;
  lumo::ArchiveEntry entry;
  lumo::EntryRules rules;
  std::size_t index = 0;
  if (archive.open(fd, offset, size, &*catalogue, std::max(1u, std::thread::hardware_concurrency()))) {
    while (archive.next(entry)) {
      if (index >= entries.size()) return failure(*catalogue, nullptr, "the decoder finds more entries than the header lists", remedy);
      const lumo::CatalogueEntry& expected = entries[index++];
      // The decoder shows folders with a "/" at the end, and may turn the
      // "\\" of archives made on Windows into "/".
      std::string name = entry.name, stored = expected.name;
      std::replace(name.begin(), name.end(), '\\', '/');
      std::replace(stored.begin(), stored.end(), '\\', '/');
      if (entry.kind == lumo::EntryKind::Directory && name.ends_with('/')) name.pop_back();
      if (name != stored)
        return failure(*catalogue, &expected, "is reported by the decoder as \"" + entry.name + "\"", remedy);
      // Out refuses such an entry on every machine.
      bool link = entry.kind == lumo::EntryKind::Link;
      if (std::optional<std::string> why = rules.check(entry.name, link, link ? entry.linkTarget : ""))
        return "entry \"" + entry.name + "\" would never be unpacked: " + *why;
      if (entry.kind == lumo::EntryKind::Link) {
        // The decoder hands out a link's data as its target.
        const std::string& target = entry.linkTarget;
        if (target.size() != expected.size || (expected.crc && lumo::crc32Update(0, target.data(), target.size()) != *expected.crc))
          return failure(*catalogue, &expected, "fails its CRC", remedy);
        continue;
      }
      if (entry.kind != lumo::EntryKind::File && !expected.hasData) continue;
      std::uint64_t count = 0;
      std::uint32_t crc = 0;
      auto outcome = archive.extract([&](const void* data, std::size_t bytes, std::uint64_t at) {
        if (at != count) return false;  // 7z entries arrive in one piece after another
        crc = lumo::crc32Update(crc, data, bytes);
        count += bytes;
        return true;
      });
      if (outcome != lumo::ArchiveExtractor::DataOutcome::Done)
        return failure(*catalogue, &expected, "fails to decode: " + archive.detail(), remedy);
      if (count != expected.size)
        return failure(*catalogue, &expected,
                       "decodes to " + std::to_string(count) + " bytes, not " + std::to_string(expected.size), remedy);
      if (expected.crc && crc != *expected.crc) return failure(*catalogue, &expected, "fails its CRC", remedy);
    }
  }
  if (archive.result() != lumo::DecodeResult::Ok)
    return failure(*catalogue, index < entries.size() ? &entries[index] : nullptr,
                   "cannot be read by the decoder: " + archive.detail(), remedy);
  if (index != entries.size())
    return failure(*catalogue, &entries[index], "is missing from what the decoder finds", remedy);
  return std::nullopt;
}

}  // namespace lumo
