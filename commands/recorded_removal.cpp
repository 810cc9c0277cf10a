#include "commands/recorded_removal.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>

#include "formats/install_record.h"
#include "platform/debug_channel.h"
#include "platform/file_operations.h"
#include "platform/system_folders.h"
#include "platform/unpacked_files.h"
#include "script/execution_log.h"
#include "script/install_recorder.h"

namespace lumo::commands {
namespace {

bool atOrBelow(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/');
}

std::string parentOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Whether the record's `path` names, on disk, what it says below `folder`:
// written in resolved form (no ".", "..", repeated "/"), and its folder
// really inside, not reached through a link planted on the way. A record
// changed by hand never leads the removal out of the product folder.
bool safelyBelow(const std::string& path, const std::string& folder) {
  if (!atOrBelow(path, folder) || path.find("//") != std::string::npos || path.find("/./") != std::string::npos ||
      path.find("/../") != std::string::npos || path.ends_with("/.") || path.ends_with("/.."))
    return false;
  if (path == folder) return true;
  std::optional<std::string> parent = canonicalPath(parentOf(path));
  std::optional<std::string> top = canonicalPath(folder);
  return parent && top && atOrBelow(*parent, *top);
}

// Every file, link and other non-folder below `folder`, links and other
// file systems not entered.
void listLeft(const std::string& folder, std::vector<std::string>& left) {
  if (nodeKind(folder) != NodeKind::Folder) return;
  std::error_code error;
  std::vector<std::string> entries;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    entries.push_back(it->path().string());
  std::sort(entries.begin(), entries.end());
  for (const std::string& entry : entries) {
    switch (nodeKind(entry)) {
      case NodeKind::Missing: break;
      case NodeKind::Folder:
        if (!isMountPoint(entry)) listLeft(entry, left);
        break;
      default: left.push_back(entry);
    }
  }
}

}  // namespace

bool removeRecordedFolder(const std::string& folder, std::vector<std::string>* keptOut) {
  std::vector<RecordItem> items;
  for (RecordItem& item : recordedItems()) {
    if ((isRecordedFileKind(item.kind) || item.kind == RecordKind::Link || item.kind == RecordKind::Folder) &&
        atOrBelow(item.location, folder))
      items.push_back(std::move(item));
  }
  if (items.empty()) return false;

  // Folders that may have become empty: the recorded ones and those that
  // held what goes. Folders of the user's own that held nothing of ours
  // stay, even empty.
  std::set<std::string> emptied{folder};
  std::set<std::string> readOnly;
  for (const RecordItem& item : items) {
    if (item.kind == RecordKind::Folder) {
      if (safelyBelow(item.location, folder)) emptied.insert(item.location);
      continue;
    }
    const NodeKind kind = nodeKind(item.location);
    if (kind == NodeKind::Missing) continue;
    if (!safelyBelow(item.location, folder)) {
      debugOutput("[RMDir] recorded path not removed, it does not lead inside " + folder + ": " + item.location);
      continue;
    }
    // A folder standing where a file was is not ours to take.
    if (kind == NodeKind::Folder) continue;
    if (Result<void> deleted = deleteFile(item.location); !deleted) {
      // Read-only files stay, as they do for every removal.
      if (isReadOnlyFile(item.location)) readOnly.insert(item.location);
      debugOutput("[RMDir] recorded file not removed: " + item.location + " (" + deleted.why() + ")");
      continue;
    }
    for (std::string up = parentOf(item.location); atOrBelow(up, folder) && up != folder; up = parentOf(up))
      emptied.insert(up);
  }
  // Deepest first, so that a folder emptied by its children goes too.
  std::vector<std::string> folders(emptied.begin(), emptied.end());
  std::sort(folders.begin(), folders.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& candidate : folders) {
    std::error_code error;
    // Only an empty folder goes; one that holds anything stays as it is.
    if (nodeKind(candidate) == NodeKind::Folder && std::filesystem::is_empty(candidate, error) && !error)
      std::filesystem::remove(candidate, error);
  }
  noteRemovedUnder(folder);

  std::vector<std::string> kept;
  listLeft(folder, kept);
  for (const std::string& path : kept) {
    std::string line = readOnly.count(path) ? "[RMDir] Read-only, kept: " + path
                                            : "[RMDir] Not written by the installation, kept: " + path;
    Log(line + "\r\n");
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  if (isFolder(folder)) noteFolderKept(folder);
  if (keptOut) *keptOut = std::move(kept);
  return true;
}

}  // namespace lumo::commands
