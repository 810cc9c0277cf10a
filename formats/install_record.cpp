#include "formats/install_record.h"

#include <sqlite3.h>

#include <array>
#include <filesystem>
#include <utility>

#include "formats/sqlite_statement.h"
#include "platform/sysroot.h"

namespace lumo {
namespace {

// "LREC": marks the file as an install record for `file` and SQLite's tools.
constexpr std::int64_t kRecordApplicationId = 0x4C524543;
constexpr std::int64_t kRecordLayoutVersion = 1;

constexpr const char* kRecordSchema =
    "CREATE TABLE items(seq INTEGER PRIMARY KEY, kind TEXT NOT NULL, location TEXT NOT NULL,"
    " name TEXT NOT NULL DEFAULT '', size INTEGER, sha256 TEXT, source TEXT NOT NULL DEFAULT '',"
    " UNIQUE(kind, location, name));"
    "CREATE TABLE facts(name TEXT PRIMARY KEY, value TEXT NOT NULL);";

constexpr std::array<std::pair<RecordKind, std::string_view>, 9> kKindNames{{
    {RecordKind::File, "file"},
    {RecordKind::Folder, "folder"},
    {RecordKind::Link, "link"},
    {RecordKind::Shortcut, "shortcut"},
    {RecordKind::Icon, "icon"},
    {RecordKind::Association, "association"},
    {RecordKind::RegistryValue, "registry-value"},
    {RecordKind::IniValue, "ini-value"},
    {RecordKind::XmlValue, "xml-value"},
}};

using sqlite::exec;
using sqlite::Statement;

std::optional<std::int64_t> readInteger(sqlite3* db, const char* sql) {
  Statement statement(db, sql);
  if (statement.step() != SQLITE_ROW) return std::nullopt;
  return statement.integer(0);
}

}  // namespace

struct InstallRecordFile::Database {
  sqlite3* db = nullptr;
  ~Database() {
    if (db) ::sqlite3_close_v2(db);
  }
  Failure failure(const std::string& path, std::string_view doing) const {
    return Failure{"install record " + path + ": " + std::string(doing) + ": " +
                   (db ? ::sqlite3_errmsg(db) : "cannot open")};
  }
};

std::string_view recordKindName(RecordKind kind) {
  for (const auto& [k, name] : kKindNames)
    if (k == kind) return name;
  return "file";
}

std::optional<RecordKind> recordKindNamed(std::string_view name) {
  for (const auto& [kind, n] : kKindNames)
    if (n == name) return kind;
  return std::nullopt;
}

bool isRecordedFileKind(RecordKind kind) {
  return kind == RecordKind::File || kind == RecordKind::Shortcut || kind == RecordKind::Icon ||
         kind == RecordKind::Association;
}

InstallRecordFile::InstallRecordFile(std::string path) : path_(std::move(path)), db_(std::make_unique<Database>()) {}

InstallRecordFile::~InstallRecordFile() = default;

Result<std::optional<std::unique_ptr<InstallRecordFile>>> InstallRecordFile::open(const std::string& path,
                                                                                   bool create) {
  std::error_code error;
  const bool exists = std::filesystem::exists(path, error);
  if (!exists && !create) return std::optional<std::unique_ptr<InstallRecordFile>>();
  if (!exists) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    if (error) return Failure{"install record " + path + ": cannot create its folder: " + error.message()};
  }
  std::unique_ptr<InstallRecordFile> record(new InstallRecordFile(path));
  sqlite3*& db = record->db_->db;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  if (::sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    // A record another user owns (a machine-wide one seen by a user) is
    // still read.
    if (db) ::sqlite3_close_v2(db);
    db = nullptr;
    if (::sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK)
      return record->db_->failure(path, "open");
  }
  ::sqlite3_busy_timeout(db, sqlite::kBusyTimeoutMs);
  std::optional<std::int64_t> id = readInteger(db, "PRAGMA application_id");
  if (!id) return Failure{"install record " + path + " is damaged or is not an install record; it was left as it is"};
  if (*id == 0) {
    if (!exec(db, "BEGIN IMMEDIATE")) return record->db_->failure(path, "set up");
    std::optional<std::int64_t> tables = readInteger(db, "SELECT count(*) FROM sqlite_master");
    std::string setup = std::string(kRecordSchema) + "PRAGMA application_id=" + std::to_string(kRecordApplicationId) +
                        ";PRAGMA user_version=" + std::to_string(kRecordLayoutVersion) + ";";
    if (!tables || *tables != 0 || !exec(db, setup.c_str()) || !exec(db, "COMMIT")) {
      exec(db, "ROLLBACK");
      return Failure{"install record " + path + " is not an install record; it was left as it is"};
    }
  } else if (*id != kRecordApplicationId) {
    return Failure{"install record " + path + " is another program's database; it was left as it is"};
  }
  if (readInteger(db, "PRAGMA user_version").value_or(0) > kRecordLayoutVersion)
    return Failure{"install record " + path + " was written by a newer version; it was left as it is"};
  // Each change reaches the disk before the command that made it returns:
  // the record never lists a file that a later crash takes back, nor loses
  // one that stays.
  exec(db, "PRAGMA synchronous=FULL");
  return std::optional<std::unique_ptr<InstallRecordFile>>(std::move(record));
}

Result<void> InstallRecordFile::change(const std::vector<RecordItem>& add, const std::vector<RecordItem>& drop) {
  sqlite3* db = db_->db;
  if (!exec(db, "BEGIN IMMEDIATE")) return db_->failure(path_, "begin");
  Statement remove(db, "DELETE FROM items WHERE kind=?1 AND location=?2 AND name=?3");
  for (const RecordItem& item : drop) {
    remove.bind(1, recordKindName(item.kind));
    remove.bind(2, item.location);
    remove.bind(3, item.name);
    if (remove.step() != SQLITE_DONE) {
      Failure failure = db_->failure(path_, "drop an item");
      exec(db, "ROLLBACK");
      return failure;
    }
    remove.reset();
    remove.clearBindings();
  }
  Statement insert(db,
                   "INSERT INTO items(kind, location, name, size, sha256, source) VALUES(?1, ?2, ?3, ?4, ?5, ?6)"
                   " ON CONFLICT(kind, location, name) DO UPDATE SET size=excluded.size,"
                   " sha256=excluded.sha256, source=excluded.source");
  for (const RecordItem& item : add) {
    insert.bind(1, recordKindName(item.kind));
    insert.bind(2, item.location);
    insert.bind(3, item.name);
    if (item.size) insert.bind(4, static_cast<std::int64_t>(*item.size));
    if (item.sha256) insert.bind(5, *item.sha256);
    insert.bind(6, item.source);
    if (insert.step() != SQLITE_DONE) {
      Failure failure = db_->failure(path_, "add an item");
      exec(db, "ROLLBACK");
      return failure;
    }
    insert.reset();
    insert.clearBindings();
  }
  if (!exec(db, "COMMIT")) {
    Failure failure = db_->failure(path_, "commit");
    exec(db, "ROLLBACK");
    return failure;
  }
  return {};
}

Result<std::vector<RecordItem>> InstallRecordFile::items() const {
  Statement select(db_->db, "SELECT kind, location, name, size, sha256, source FROM items ORDER BY seq");
  std::vector<RecordItem> items;
  int rc;
  while ((rc = select.step()) == SQLITE_ROW) {
    std::optional<RecordKind> kind = recordKindNamed(select.text(0));
    if (!kind) continue;  // a kind of a later version: not ours to act on
    RecordItem item{.kind = *kind, .location = select.text(1), .name = select.text(2)};
    if (!select.isNull(3)) item.size = static_cast<std::uint64_t>(select.integer(3));
    if (!select.isNull(4)) item.sha256 = select.text(4);
    item.source = select.text(5);
    items.push_back(std::move(item));
  }
  if (rc != SQLITE_DONE) return db_->failure(path_, "read");
  return items;
}

Result<void> InstallRecordFile::setFact(std::string_view name, std::string_view value) {
  Statement statement(db_->db, "INSERT INTO facts(name, value) VALUES(?1, ?2) ON CONFLICT(name) DO UPDATE SET value=excluded.value");
  statement.bind(1, name);
  statement.bind(2, value);
  if (statement.step() != SQLITE_DONE) return db_->failure(path_, "write a fact");
  return {};
}

std::optional<std::string> InstallRecordFile::fact(std::string_view name) const {
  Statement statement(db_->db, "SELECT value FROM facts WHERE name=?1");
  statement.bind(1, name);
  if (statement.step() != SQLITE_ROW) return std::nullopt;
  return statement.text(0);
}

std::string installRecordPath(std::string_view productFolderName, bool machineWide) {
  std::string file = "/lumo/records/" + std::string(productFolderName) + ".sqlite";
  if (!machineWide) return userConfigFolder() + file;
  return machinePath("/var/lib" + file);
}

bool removeInstallRecord(const std::string& path) {
  std::error_code error;
  for (const char* suffix : {"-journal", ""}) std::filesystem::remove(path + suffix, error);
  const bool gone = !std::filesystem::exists(path, error);
  // The folder of the records, and the "lumo" folder above it that the
  // first record made, go with the last one (remove() leaves a folder that
  // holds anything, the registry store's among them).
  const std::filesystem::path records = std::filesystem::path(path).parent_path();
  if (std::filesystem::remove(records, error)) std::filesystem::remove(records.parent_path(), error);
  return gone;
}

}  // namespace lumo
