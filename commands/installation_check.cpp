#include "commands/installation_check.h"

#include <filesystem>
#include <map>
#include <optional>

#include "formats/resource_bundle.h"
#include "formats/sevenzip_entry_reader.h"
#include "platform/digest.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "platform/unpacked_files.h"
#include "script/run_environment.h"

namespace lumo::commands {
namespace {

constexpr const char* kPayloadType = "DATA";
constexpr std::uint32_t kPayloadId = 900;

std::optional<std::string> linkTargetOf(const std::string& path) {
  std::error_code error;
  std::filesystem::path target = std::filesystem::read_symlink(path, error);
  if (error) return std::nullopt;
  return target.string();
}

std::string entryName(const std::string& stored) {
  std::optional<std::vector<std::string>> parts = resolveInside(stored, {});
  if (!parts) return {};
  std::string name;
  for (const std::string& part : *parts) name += (name.empty() ? "" : "/") + part;
  return name;
}

// Writes the payload entries `wanted` (entry name -> damage) again.
void restorePayloadEntries(const std::map<std::string, const Damage*>& wanted, Restoration& outcome) {
  std::map<std::string, const Damage*> left = wanted;
  auto failAll = [&](const std::string& why) {
    for (const auto& [name, damage] : left) outcome.failures.push_back(damage->item.location + ": " + why);
    left.clear();
  };
  const ResourceBundle& bundle = ResourceBundle::ofThisProgram();
  if (!bundle.find(kPayloadType, kPayloadId)) return failAll("this program carries no payload");
  // The payload is read from an unnamed copy, as Out reads it.
  std::string scratch = runEnvironment().tempDir + "lumo-repair.7z";
  int fd = createScratchFile(scratch);
  if (fd < 0) return failAll("cannot create " + scratch);
  bool copied = bundle.copyTo(kPayloadType, kPayloadId, fd);
  removeName(scratch);
  if (!copied) {
    closeScratchFile(fd);
    return failAll("cannot read the payload");
  }
  const mode_t umask = currentUmask();
  SevenZipEntryReader archive;
  ArchiveEntry entry;
  if (archive.open(fd, 0, ArchiveExtractor::kWholeFile, nullptr, 1)) {
    while (!left.empty() && archive.next(entry)) {
      auto found = left.find(entryName(entry.name));
      if (found == left.end() || entry.kind != EntryKind::File) continue;
      const RecordItem& item = found->second->item;
      left.erase(found);
      makeSurePathExists(item.location);
      ReplacementFile output;
      if (Result<void> opened = output.open(item.location); !opened) {
        outcome.failures.push_back(item.location + ": " + opened.why());
        continue;
      }
      Sha256Stream digest;
      ArchiveExtractor::DataOutcome result =
          archive.extract([&](const void* data, std::size_t size, std::uint64_t offset) {
            digest.updateAt(data, size, offset);
            return output.writeAt(data, size, offset);
          });
      std::optional<std::string> sha = digest.finish();
      if (result != ArchiveExtractor::DataOutcome::Done) {
        outcome.failures.push_back(item.location + ": the payload cannot be decoded");
        continue;
      }
      // Another version's payload does not hold the recorded bytes.
      if ((item.sha256 && sha != item.sha256) || (item.size && digest.size() != *item.size)) {
        outcome.failures.push_back(item.location + ": the payload holds other bytes than the installation wrote");
        continue;
      }
      output.setMode(static_cast<mode_t>(entry.mode & 0777) & ~umask);
      if (Result<void> committed = output.commit(); !committed) {
        outcome.failures.push_back(item.location + ": " + committed.why());
        continue;
      }
      outcome.restored.push_back(item.location);
    }
  }
  closeScratchFile(fd);
  failAll("not in this program's payload");
}

}  // namespace

std::vector<Damage> findDamage(const std::vector<RecordItem>& items) {
  std::vector<Damage> damage;
  for (const RecordItem& item : items) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(item.location, error);
    const bool present = std::filesystem::exists(status);
    if (item.kind == RecordKind::Link) {
      if (!present || !std::filesystem::is_symlink(status)) damage.push_back({item, !present});
      else if (linkTargetOf(item.location) != item.source) damage.push_back({item, false});
      continue;
    }
    if (!isRecordedFileKind(item.kind)) continue;
    if (!present) {
      damage.push_back({item, true});
      continue;
    }
    if (!std::filesystem::is_regular_file(status)) {
      damage.push_back({item, false});
      continue;
    }
    if (!item.sha256) continue;
    if ((item.size && std::filesystem::file_size(item.location, error) != *item.size) ||
        fileSha256(item.location) != item.sha256)
      damage.push_back({item, false});
  }
  return damage;
}

std::string damageLine(const Damage& damage) {
  return std::string(damage.missing ? "missing " : "changed ") + damage.item.location;
}

Restoration restoreDamage(const std::vector<Damage>& damage) {
  Restoration outcome;
  std::map<std::string, const Damage*> fromPayload;
  for (const Damage& d : damage) {
    const RecordItem& item = d.item;
    if (item.kind == RecordKind::Link) {
      std::error_code error;
      if (!d.missing) std::filesystem::remove(item.location, error);
      makeSurePathExists(item.location);
      if (Result<void> linked = makeSymbolicLink(item.source, item.location))
        outcome.restored.push_back(item.location);
      else
        outcome.failures.push_back(item.location + ": " + linked.why());
    } else if (item.source.starts_with(kPayloadSource)) {
      fromPayload[entryName(item.source.substr(kPayloadSource.size()))] = &d;
    } else {
      outcome.failures.push_back(item.location + ": not from the payload (" +
                                 (item.source.empty() ? std::string("written by the installation") : item.source) +
                                 ")");
    }
  }
  if (!fromPayload.empty()) restorePayloadEntries(fromPayload, outcome);
  return outcome;
}

std::vector<std::string> describeRecord(const std::vector<RecordItem>& items) {
  std::vector<std::string> lines;
  for (const RecordItem& item : items) {
    std::string line = std::string(recordKindName(item.kind)) + " " + item.location;
    if (!item.name.empty() || item.kind == RecordKind::RegistryValue) line += " | " + item.name;
    lines.push_back(line);
  }
  return lines;
}

}  // namespace lumo::commands
