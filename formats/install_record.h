// The install record: what one installation of a product created, kept in
// a SQLite file of its own beside the registry store, so that uninstalling
// removes exactly that and an installation can be checked and repaired.
//
//   /var/lib/lumo/records/<product folder>.sqlite     run as root
//   $XDG_CONFIG_HOME/lumo/records/<product folder>.sqlite   anybody else
//
// Every change is one transaction with the file flushed before it returns,
// so a process killed at any moment leaves the record as the last change
// left it (see README, "The install record").
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace lumo {

enum class RecordKind {
  File,           // a file the installation wrote: size and SHA-256 of its bytes
  Folder,         // a folder the installation created
  Link,           // a symbolic link; `source` is its target
  Shortcut,       // a desktop entry (a file with size and SHA-256)
  Icon,           // an icon put into the icon theme (a file with size and SHA-256)
  Association,    // a file of a file type's association (a file with size and SHA-256)
  RegistryValue,  // `location` ROOT\KEY, `name` the value, `source` its text
  IniValue,       // `location` the file, `name` "SECTION/KEY", `source` the value
  XmlValue,       // `location` the file, `name` the node, `source` the value
};

// The stored name of each kind ("file", "folder", ...).
std::string_view recordKindName(RecordKind kind);
std::optional<RecordKind> recordKindNamed(std::string_view name);
// Whether items of `kind` are files on disk whose bytes the record knows.
bool isRecordedFileKind(RecordKind kind);

// Where a file's bytes came from, so that a repair can write them again.
inline constexpr std::string_view kPayloadSource = "payload:";  // + the entry's name in the payload

struct RecordItem {
  RecordKind kind = RecordKind::File;
  std::string location{};  // an absolute path, or ROOT\KEY for a registry value
  std::string name{};      // empty for files, folders and links
  std::optional<std::uint64_t> size{};
  // 64 lower-case hex digits; nothing when the bytes are not known (a file
  // that settings rewrite, one moved in without a record of its own).
  std::optional<std::string> sha256{};
  std::string source{};

  bool operator==(const RecordItem&) const = default;
};

class InstallRecordFile {
 public:
  ~InstallRecordFile();
  InstallRecordFile(const InstallRecordFile&) = delete;
  InstallRecordFile& operator=(const InstallRecordFile&) = delete;

  // Opens the record at `path`; with `create`, a missing one (and its
  // folder) is made. Nothing (not a failure) when it is missing and not to
  // be created. A file that is no install record fails and is left alone.
  static Result<std::optional<std::unique_ptr<InstallRecordFile>>> open(const std::string& path, bool create);

  // In one transaction: adds `add` (an item of the same kind, location and
  // name is replaced) and drops `drop` (matched by kind, location and name).
  Result<void> change(const std::vector<RecordItem>& add, const std::vector<RecordItem>& drop);
  // Every item, in the order they were first added.
  Result<std::vector<RecordItem>> items() const;
  // A fact about the installation ("install_folder").
  Result<void> setFact(std::string_view name, std::string_view value);
  std::optional<std::string> fact(std::string_view name) const;

  const std::string& path() const { return path_; }

 private:
  struct Database;
  explicit InstallRecordFile(std::string path);

  std::string path_;
  std::unique_ptr<Database> db_;
};

// The record of the product whose folders are called `productFolderName`,
// for a machine-wide (root) or a per-user installation.
std::string installRecordPath(std::string_view productFolderName, bool machineWide);

// Removes the record file; true when none is left.
bool removeInstallRecord(const std::string& path);

}  // namespace lumo
