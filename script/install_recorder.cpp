#include "script/install_recorder.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <tuple>

#include "platform/debug_channel.h"
#include "script/execution_log.h"
#include "script/run_environment.h"

namespace lumo {
namespace {

using ItemKey = std::tuple<std::string, RecordKind, std::string>;  // location, kind, name

ItemKey keyOf(const RecordItem& item) { return {item.location, item.kind, item.name}; }

bool isPathKind(RecordKind kind) {
  return isRecordedFileKind(kind) || kind == RecordKind::Folder || kind == RecordKind::Link;
}

bool atOrBelow(const std::string& location, const std::string& folder) {
  return location == folder || (location.size() > folder.size() && location.starts_with(folder) &&
                                (folder.ends_with('/') || location[folder.size()] == '/'));
}

bool onDisk(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

char foldedAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool sameRegistryName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (foldedAscii(a[i]) != foldedAscii(b[i])) return false;
  return true;
}

struct Recorder {
  std::mutex lock;
  bool enabled = false;
  bool install = false;
  bool failureReported = false;
  std::string path;
  std::unique_ptr<InstallRecordFile> file;
  std::map<ItemKey, RecordItem> committed;
  std::map<ItemKey, std::optional<RecordItem>> pending;  // nothing: drop
  std::set<std::string> kept;

  // The item as the record will read once pending changes are written.
  const RecordItem* current(const ItemKey& key) const {
    if (auto p = pending.find(key); p != pending.end()) return p->second ? &*p->second : nullptr;
    auto c = committed.find(key);
    return c == committed.end() ? nullptr : &c->second;
  }

  std::vector<RecordItem> merged() const {
    std::map<ItemKey, RecordItem> all = committed;
    for (const auto& [key, item] : pending) {
      if (item)
        all[key] = *item;
      else
        all.erase(key);
    }
    std::vector<RecordItem> items;
    for (auto& [key, item] : all) items.push_back(item);
    return items;
  }

  void reportFailure(const std::string& why) {
    if (failureReported) return;
    failureReported = true;
    std::string line = "The install record cannot be written (" + why + "); uninstalling will remove the whole folder";
    LogWarning(line);
  }

  // Writes pending changes; the lock is held.
  void commit() {
    if (pending.empty()) return;
    if (!file) {
      Result<std::optional<std::unique_ptr<InstallRecordFile>>> opened = InstallRecordFile::open(path, install);
      if (!opened) {
        reportFailure(opened.why());
        pending.clear();
        return;
      }
      if (!*opened) {  // removals noted without any record: nothing to keep
        pending.clear();
        return;
      }
      file = std::move(**opened);
    }
    std::vector<RecordItem> add, drop;
    for (const auto& [key, item] : pending) {
      if (item) {
        add.push_back(*item);
      } else if (auto c = committed.find(key); c != committed.end()) {
        drop.push_back(c->second);
      }
    }
    if (install) {
      const std::string folder = installFolder();
      if (!folder.empty() && file->fact("install_folder") != folder) (void)file->setFact("install_folder", folder);
    }
    Result<void> changed = file->change(add, drop);
    if (!changed) {
      reportFailure(changed.why());
    } else {
      for (RecordItem& item : add) committed[keyOf(item)] = item;
      for (const RecordItem& item : drop) committed.erase(keyOf(item));
    }
    pending.clear();
  }
};

Recorder& recorder() {
  static Recorder* instance = new Recorder;  // outlives workers that end with the process
  return *instance;
}

}  // namespace

void enableInstallRecord(const std::string& path, bool install) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  r.enabled = true;
  r.install = install;
  r.path = path;
  r.file.reset();
  r.committed.clear();
  r.pending.clear();
  r.kept.clear();
  r.failureReported = false;
  Result<std::optional<std::unique_ptr<InstallRecordFile>>> opened = InstallRecordFile::open(path, false);
  if (!opened) {
    r.reportFailure(opened.why());
    r.enabled = false;  // a record we may not change is never overwritten
    return;
  }
  if (!*opened) return;
  r.file = std::move(**opened);
  Result<std::vector<RecordItem>> items = r.file->items();
  if (!items) {
    r.reportFailure(items.why());
    r.file.reset();
    r.enabled = false;
    return;
  }
  for (RecordItem& item : *items) r.committed[keyOf(item)] = std::move(item);
}

void disableInstallRecord() {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  r.enabled = false;
  r.file.reset();
  r.committed.clear();
  r.pending.clear();
}

bool installRecordEnabled() {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  return r.enabled;
}

std::string installRecordFilePath() {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  return r.enabled ? r.path : std::string();
}

void noteRecordItem(RecordItem item) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  if (!r.enabled || !r.install) return;
  ItemKey key = keyOf(item);
  r.pending[key] = std::move(item);
}

void putBackRecordItem(RecordItem item) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  if (!r.enabled) return;
  ItemKey key = keyOf(item);
  r.pending[key] = std::move(item);
}

void noteFoldersCreated(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) noteRecordItem(RecordItem{.kind = RecordKind::Folder, .location = folder});
}

void noteFileRewritten(const std::string& path) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  if (!r.enabled || !r.install) return;
  for (RecordKind kind : {RecordKind::File, RecordKind::Shortcut, RecordKind::Icon, RecordKind::Association}) {
    if (const RecordItem* known = r.current({path, kind, ""})) {
      RecordItem item = *known;
      item.size.reset();
      item.sha256.reset();
      r.pending[keyOf(item)] = item;
      return;
    }
  }
  RecordItem item{.kind = RecordKind::File, .location = path, .source = "settings"};
  r.pending[keyOf(item)] = item;
}

void noteRemovedUnder(const std::string& path) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  if (!r.enabled) return;
  for (const RecordItem& item : r.merged()) {
    if (isPathKind(item.kind) && atOrBelow(item.location, path) && !onDisk(item.location))
      r.pending[keyOf(item)] = std::nullopt;
  }
}

void noteRegistryRemoved(const std::string& key, const std::optional<std::string>& value) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  if (!r.enabled) return;
  for (const RecordItem& item : r.merged()) {
    if (item.kind != RecordKind::RegistryValue) continue;
    bool gone = value ? sameRegistryName(item.location, key) && sameRegistryName(item.name, *value)
                      : sameRegistryName(item.location, key) ||
                            (item.location.size() > key.size() && item.location[key.size()] == '\\' &&
                             sameRegistryName(std::string_view(item.location).substr(0, key.size()), key));
    if (gone) r.pending[keyOf(item)] = std::nullopt;
  }
}

void forgetRecordedDigest(const std::string& path) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  if (!r.enabled || !r.install) return;
  for (RecordKind kind : {RecordKind::File, RecordKind::Shortcut, RecordKind::Icon, RecordKind::Association}) {
    auto c = r.committed.find({path, kind, ""});
    if (c == r.committed.end() || !c->second.sha256) continue;
    RecordItem item = c->second;
    item.size.reset();
    item.sha256.reset();
    r.pending[keyOf(item)] = item;
  }
  r.commit();
}

void forgetRecordedDigestsUnder(const std::string& folder) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  if (!r.enabled || !r.install) return;
  for (const auto& [key, known] : r.committed) {
    if (!isRecordedFileKind(known.kind) || !known.sha256 || !atOrBelow(known.location, folder)) continue;
    RecordItem item = known;
    item.size.reset();
    item.sha256.reset();
    r.pending[key] = item;
  }
  r.commit();
}

std::optional<RecordItem> takeRecordedPath(const std::string& path) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  if (!r.enabled) return std::nullopt;
  for (RecordKind kind : {RecordKind::File, RecordKind::Link, RecordKind::Shortcut, RecordKind::Icon,
                          RecordKind::Association}) {
    if (const RecordItem* item = r.current({path, kind, ""})) {
      RecordItem taken = *item;
      r.pending[keyOf(taken)] = std::nullopt;
      r.commit();
      return taken;
    }
  }
  return std::nullopt;
}

std::optional<RecordItem> recordedPath(const std::string& path) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  if (!r.enabled) return std::nullopt;
  for (RecordKind kind : {RecordKind::File, RecordKind::Link, RecordKind::Folder, RecordKind::Shortcut,
                          RecordKind::Icon, RecordKind::Association}) {
    if (const RecordItem* item = r.current({path, kind, ""})) return *item;
  }
  return std::nullopt;
}

std::vector<RecordItem> recordedItems() {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  if (!r.enabled) return {};
  return r.merged();
}

void commitInstallRecord() {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  if (r.enabled) r.commit();
}

void noteFolderKept(const std::string& folder) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  r.kept.insert(folder);
}

bool installRecordKeptFolder(const std::string& folder) {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  return r.kept.count(folder) > 0;
}

void discardInstallRecord() {
  Recorder& r = recorder();
  std::lock_guard<std::mutex> hold(r.lock);
  if (!r.enabled) return;
  r.file.reset();
  if (!removeInstallRecord(r.path)) LogWarning("The install record " + r.path + " could not be removed");
  r.enabled = false;
  r.committed.clear();
  r.pending.clear();
}

}  // namespace lumo
