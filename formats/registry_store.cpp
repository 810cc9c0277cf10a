#include "formats/registry_store.h"

#include <locale.h>
#include <sqlite3.h>
#include <wctype.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/file_handles.h"
#include "platform/sysroot.h"
#include "formats/sqlite_statement.h"
#include "platform/text.h"
#include "platform/unpacked_files.h"

namespace lumo {

// "LREG": marks a SQLite file as ours, so that a foreign database is
// reported instead of being written into.
constexpr int kApplicationId = 0x4C524547;
constexpr int kSchemaVersion = 1;
constexpr std::int64_t kRootId = 1;
// As deep as Windows lets a key lie below its root.
constexpr std::size_t kMaxKeyDepth = 512;

namespace {

RegistryFailure fail(RegistryStatus status, std::string why) { return RegistryFailure{status, std::move(why)}; }

// Names compare as the Windows registry compares them: each character
// upper-cased on its own. C.UTF-8 carries the full Unicode case table, so the
// comparison does not depend on the user's locale. It is freed with the
// code that uses it: a module that carries the store may be unloaded.
locale_t caseLocale() {
  struct Held {
    locale_t locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    ~Held() {
      if (locale) ::freelocale(locale);
    }
  };
  static const Held held;
  return held.locale;
}

std::string foldName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  locale_t locale = caseLocale();
  std::size_t i = 0;
  while (i < name.size()) {
    auto byte = static_cast<unsigned char>(name[i]);
    if (byte < 0x80) {
      out += static_cast<char>(byte >= 'a' && byte <= 'z' ? byte - 32 : byte);
      ++i;
      continue;
    }
    char32_t c;
    std::size_t length = decodeUtf8(name, i, c);
    if (length == 0) {  // stray byte: keep as it is
      out += name[i++];
      continue;
    }
    if (locale) c = static_cast<char32_t>(::towupper_l(static_cast<wint_t>(c), locale));
    appendUtf8(out, c);
    i += length;
  }
  return out;
}

// Key names of a path; a trailing "\" is allowed, an empty name elsewhere is not.
bool splitPath(std::string_view path, std::vector<std::string_view>& names) {
  names.clear();
  if (path.empty()) return true;
  if (path.back() == '\\') path.remove_suffix(1);
  std::size_t start = 0;
  while (true) {
    std::size_t end = path.find('\\', start);
    std::string_view name = path.substr(start, end == std::string_view::npos ? path.size() - start : end - start);
    if (name.empty()) return false;
    names.push_back(name);
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

const char* rootName(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::CurrentUser: return "current_user";
    case RegistryRoot::LocalMachine: return "local_machine";
    case RegistryRoot::ClassesRoot: return "classes_root";
  }
  return "local_machine";
}

using sqlite::exec;
using sqlite::Statement;
using sqlite::Transaction;

constexpr const char* kSchema =
    "CREATE TABLE keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL,"
    " UNIQUE(parent, folded));"
    "CREATE TABLE key_values("
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(key, folded)) WITHOUT ROWID;"
    "INSERT INTO keys(id, parent, name, folded) VALUES(1, 0, '', '');";

}  // namespace

namespace detail {

// One store file, shared by every key opened in it in this process. The
// file is opened when first needed: reading a store that does not exist yet
// finds an empty root and creates nothing.
class RegistryDatabase {
 public:
  explicit RegistryDatabase(std::string path) : path_(std::move(path)) {}
  ~RegistryDatabase() {
    if (db_) ::sqlite3_close_v2(db_);
  }
  RegistryDatabase(const RegistryDatabase&) = delete;
  RegistryDatabase& operator=(const RegistryDatabase&) = delete;

  const std::string& path() const { return path_; }
  std::mutex& mutex() { return mutex_; }
  sqlite3* handle() const { return db_; }
  // Counts the files opened under this path: a key opened in an earlier one
  // (the file was since moved away or replaced) no longer exists.
  std::uint64_t generation() const { return generation_; }

  // Opens the file; with `create`, creates it (and its folder) when missing.
  // Success with a null handle means: no file, and none asked for.
  RegistryResult<> open(bool create);

  RegistryFailure sqliteFailure(const char* doing);

 private:
  RegistryResult<> initialise();
  void removeIfEmpty();

  std::string path_;
  sqlite3* db_ = nullptr;
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
  std::uint64_t generation_ = 0;
  std::mutex mutex_;
};

RegistryFailure RegistryDatabase::sqliteFailure(const char* doing) {
  int code = db_ ? ::sqlite3_extended_errcode(db_) & 0xFF : SQLITE_CANTOPEN;
  std::string cause = db_ ? ::sqlite3_errmsg(db_) : "cannot open";
  std::string where = "registry store " + path_ + ": " + doing + ": " + cause;
  switch (code) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return fail(RegistryStatus::StoreDamaged,
                  "registry store " + path_ + " is damaged or is not a registry store (" + cause +
                      "); it was left as it is");
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
      return fail(RegistryStatus::AccessDenied, where);
    default:
      return fail(RegistryStatus::CantWrite, where);
  }
}

// A store this process began to create and could not set up (a full disk)
// would otherwise stay behind as an empty file. Only an empty one goes: a
// file that holds anything may be another process's store by now.
void RegistryDatabase::removeIfEmpty() {
  std::optional<FileFacts> facts = factsOf(path_);
  if (!facts || !facts->regular || facts->size != 0) return;
  removeName(path_);
}

RegistryResult<> RegistryDatabase::open(bool create) {
  std::optional<FileFacts> facts = factsOf(path_);
  bool exists = facts.has_value();
  if (db_) {
    // Connections stay open between operations; one whose file was moved
    // away or replaced must not write into the old one.
    if (exists && facts->device == device_ && facts->inode == inode_) return {};
    ::sqlite3_close_v2(db_);
    db_ = nullptr;
    ++generation_;
  }
  if (!exists && !create) return {};
  if (exists && !facts->regular)
    return fail(RegistryStatus::StoreDamaged, "registry store " + path_ + " is not a file; it was left as it is");
  if (!exists) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), error);
    if (error)
      return fail(RegistryStatus::AccessDenied, "registry store " + path_ + ": cannot create its folder: " +
                                                    error.message());
  }
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | (exists ? 0 : SQLITE_OPEN_CREATE);
  int rc = ::sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK && exists) {
    // A store we may read but not write (a machine store seen by a user).
    if (db_) ::sqlite3_close_v2(db_);
    db_ = nullptr;
    rc = ::sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr);
  }
  if (rc != SQLITE_OK) {
    RegistryFailure failure = sqliteFailure("open");
    if (db_) ::sqlite3_close_v2(db_);
    db_ = nullptr;
    if (!exists) removeIfEmpty();
    return failure;
  }
  ::sqlite3_busy_timeout(db_, sqlite::kBusyTimeoutMs);
  ::sqlite3_extended_result_codes(db_, 1);
  // Many processes use a store briefly (every lumo-reg run): leave the log
  // to the automatic checkpoint instead of folding it back at every close.
  ::sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  RegistryResult<> initialised = initialise();
  if (!initialised) {
    ::sqlite3_close_v2(db_);
    db_ = nullptr;
    if (!exists) removeIfEmpty();
    return initialised;
  }
  if (std::optional<FileFacts> opened = factsOf(path_)) {
    device_ = opened->device;
    inode_ = opened->inode;
  }
  return {};
}

// The one integer a statement gives, with the statement finished at once
// (an unfinished one would keep its read lock).
bool readInteger(sqlite3* db, const char* sql, std::int64_t& value) {
  Statement statement(db, sql);
  if (statement.step() != SQLITE_ROW) return false;
  value = statement.integer(0);
  return true;
}

std::string readText(sqlite3* db, const char* sql) {
  Statement statement(db, sql);
  return statement.step() == SQLITE_ROW ? statement.text(0) : std::string();
}

RegistryResult<> RegistryDatabase::initialise() {
  // Reading the header is what reveals a file that is not a database.
  std::int64_t id = 0;
  if (!readInteger(db_, "PRAGMA application_id", id)) return sqliteFailure("read header");
  if (id != kApplicationId && id != 0)
    return fail(RegistryStatus::StoreDamaged,
                "registry store " + path_ +
                    " is not a registry store (another program's database); it was left as it is");
  if (id == 0) {
    // A new file, or one that another process is setting up right now: set
    // it up under the write lock, and only when it holds nothing at all.
    Transaction transaction(db_);
    if (!transaction.begun()) return sqliteFailure("set up");
    std::int64_t tables = 0;
    if (!readInteger(db_, "PRAGMA application_id", id) ||
        !readInteger(db_, "SELECT count(*) FROM sqlite_master", tables))
      return sqliteFailure("set up");
    if (id != kApplicationId) {
      if (tables != 0)
        return fail(RegistryStatus::StoreDamaged,
                    "registry store " + path_ + " is not a registry store (a database with other tables); it was "
                    "left as it is");
      std::string setup = std::string(kSchema) + "PRAGMA application_id=" + std::to_string(kApplicationId) +
                          ";PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
      if (!exec(db_, setup.c_str())) return sqliteFailure("set up");
      if (!transaction.commit()) return sqliteFailure("set up");
    }
  }
  std::int64_t version = 0;
  if (!readInteger(db_, "PRAGMA user_version", version)) return sqliteFailure("read header");
  if (version > kSchemaVersion)
    return fail(RegistryStatus::StoreDamaged, "registry store " + path_ + " was written by a newer version (layout " +
                                                  std::to_string(version) + "); it was left as it is");
  // Readers and one writer at a time, across processes. The mode stays in
  // the file; setting it again costs nothing. A store that can not switch
  // (read-only, busy) still works with its rollback journal.
  if (readText(db_, "PRAGMA journal_mode=WAL") == "wal") {
    // With the log, skipping the flush at each commit never damages the
    // file; a power cut may lose the last changes, as the Windows registry's
    // lazy flush may.
    exec(db_, "PRAGMA synchronous=NORMAL");
  }
  return {};
}

}  // namespace detail

// Reaches the private parts of RegistryKey for the functions below.
struct RegistryAccess {
  static std::shared_ptr<detail::RegistryDatabase>& database(RegistryKey& key) { return key.database_; }
  static const std::shared_ptr<detail::RegistryDatabase>& database(const RegistryKey& key) { return key.database_; }
  static std::int64_t& id(RegistryKey& key) { return key.id_; }
  static std::int64_t id(const RegistryKey& key) { return key.id_; }
  static std::uint64_t& generation(RegistryKey& key) { return key.generation_; }
  static std::uint64_t generation(const RegistryKey& key) { return key.generation_; }
  static RegistryRoot& root(RegistryKey& key) { return key.root_; }
};

void RegistryKey::close() {
  database_.reset();
  id_ = 0;
}

namespace {

using detail::RegistryDatabase;

// The open databases of this process by file, shared by the keys opened in
// them. The few used last stay open between operations, since opening a
// store costs more than most operations on it. A process made by fork()
// opens its own.
constexpr std::size_t kKeptOpen = 4;

std::shared_ptr<RegistryDatabase> databaseFor(const std::string& path) {
  static std::mutex mutex;
  static std::map<std::string, std::weak_ptr<RegistryDatabase>> open;
  static std::vector<std::shared_ptr<RegistryDatabase>> recent;
  static long owner = processId();
  std::lock_guard lock(mutex);
  if (owner != processId()) {
    // Connections inherited over fork() must not be used (nor closed) here.
    static auto* inherited = new std::vector<std::shared_ptr<RegistryDatabase>>();
    for (auto& [path, weak] : open) {
      if (auto database = weak.lock()) inherited->push_back(std::move(database));
    }
    open.clear();
    recent.clear();
    owner = processId();
  }
  std::shared_ptr<RegistryDatabase> database = open[path].lock();
  if (!database) {
    database = std::make_shared<RegistryDatabase>(path);
    open[path] = database;
  }
  std::erase(recent, database);
  recent.insert(recent.begin(), database);
  if (recent.size() > kKeptOpen) recent.pop_back();
  std::erase_if(open, [](const auto& entry) { return entry.second.expired(); });
  return database;
}

// How many levels below the root the key lies, counting no further than
// one past the limit.
RegistryResult<std::size_t> keyDepth(RegistryDatabase& database, std::int64_t id) {
  std::size_t depth = 0;
  Statement select(database.handle(), "SELECT parent FROM keys WHERE id=?1");
  while (id != kRootId && depth <= kMaxKeyDepth) {
    select.reset();
    select.bind(1, id);
    int rc = select.step();
    if (rc == SQLITE_DONE)
      return fail(RegistryStatus::StoreDamaged, "registry store " + database.path() +
                                                    " is damaged (a key without its parent); it was left as it is");
    if (rc != SQLITE_ROW) return database.sqliteFailure("find key");
    id = select.integer(0);
    ++depth;
  }
  return depth;
}

RegistryFailure emptyKeyName(std::string_view path) {
  return fail(RegistryStatus::InvalidParameter, "empty key name in path \"" + std::string(path) + "\"");
}

// Finds (or, with `create`, makes) the key at `path` below `from` and gives
// its id. Runs inside the caller's lock (and, for create, transaction).
RegistryResult<std::int64_t> walk(RegistryDatabase& database, std::int64_t from, std::string_view path,
                                  bool create) {
  std::vector<std::string_view> names;
  if (!splitPath(path, names)) return emptyKeyName(path);
  sqlite3* db = database.handle();
  std::int64_t current = from;
  std::size_t level = 0;
  for (; level < names.size(); ++level) {
    Statement select(db, "SELECT id FROM keys WHERE parent=?1 AND folded=?2");
    select.bind(1, current).bind(2, foldName(names[level]));
    int rc = select.step();
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) return database.sqliteFailure("find key");
    current = select.integer(0);
  }
  if (level < names.size()) {
    if (!create) return fail(RegistryStatus::NotFound, "key not found: " + std::string(path));
    // Keys that exist stay reachable at any depth; only new ones are held to
    // the limit.
    RegistryResult<std::size_t> depth = keyDepth(database, current);
    if (!depth) return depth.failure();
    if (*depth + (names.size() - level) > kMaxKeyDepth)
      return fail(RegistryStatus::InvalidParameter, "key path deeper than " + std::to_string(kMaxKeyDepth) +
                                                        " levels, not created: " + std::string(path));
    for (; level < names.size(); ++level) {
      Statement insert(db, "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)");
      insert.bind(1, current).bind(2, names[level]).bind(3, foldName(names[level]));
      if (insert.step() != SQLITE_DONE) return database.sqliteFailure("create key");
      current = ::sqlite3_last_insert_rowid(db);
    }
  }
  return current;
}

// Whether the key still exists (it may have been deleted since it was
// opened, or its file replaced). The root always exists.
RegistryResult<> checkAlive(RegistryDatabase& database, std::int64_t id, std::uint64_t generation) {
  if (id == kRootId) return {};
  if (!database.handle() || generation != database.generation())
    return fail(RegistryStatus::KeyDeleted, "the key's store file was moved away or replaced");
  Statement select(database.handle(), "SELECT 1 FROM keys WHERE id=?1");
  select.bind(1, id);
  int rc = select.step();
  if (rc == SQLITE_ROW) return {};
  if (rc == SQLITE_DONE) return fail(RegistryStatus::KeyDeleted, "the key was deleted after it was opened");
  return database.sqliteFailure("find key");
}

RegistryResult<> checkAlive(RegistryDatabase& database, const RegistryKey& key) {
  return checkAlive(database, RegistryAccess::id(key), RegistryAccess::generation(key));
}

RegistryResult<> requireOpen(const RegistryKey& key) {
  if (!key.isOpen()) return fail(RegistryStatus::InvalidParameter, "the key is not open");
  return {};
}

RegistryResult<RegistryKey> openBelow(const std::shared_ptr<RegistryDatabase>& database, RegistryRoot root,
                                      std::int64_t from, std::uint64_t fromGeneration, std::string_view path,
                                      bool create) {
  std::lock_guard lock(database->mutex());
  if (RegistryResult<> opened = database->open(create); !opened) return opened.failure();
  std::int64_t found = 0;
  if (!database->handle()) {
    // No store file yet: only the root exists.
    std::vector<std::string_view> names;
    if (!splitPath(path, names)) return emptyKeyName(path);
    if (!names.empty() || from != kRootId)
      return fail(RegistryStatus::NotFound, "key not found: " + std::string(path));
    found = kRootId;
  } else {
    std::optional<Transaction> transaction;
    if (create) {
      transaction.emplace(database->handle());
      if (!transaction->begun()) return database->sqliteFailure("create key");
    }
    if (RegistryResult<> alive = checkAlive(*database, from, fromGeneration); !alive) return alive.failure();
    RegistryResult<std::int64_t> walked = walk(*database, from, path, create);
    if (!walked) return walked.failure();
    if (transaction && !transaction->commit()) return database->sqliteFailure("create key");
    found = *walked;
  }
  RegistryKey key;
  RegistryAccess::database(key) = database;
  RegistryAccess::id(key) = found;
  RegistryAccess::generation(key) = database->generation();
  RegistryAccess::root(key) = root;
  return key;
}

RegistryResult<RegistryKey> openBelow(const RegistryKey& parent, std::string_view path, bool create) {
  if (RegistryResult<> open = requireOpen(parent); !open) return open.failure();
  return openBelow(RegistryAccess::database(parent), parent.root(), RegistryAccess::id(parent),
                   RegistryAccess::generation(parent), path, create);
}

}  // namespace

std::string registryStorePath(RegistryRoot root, bool elevated) {
  std::string file = std::string(rootName(root)) + ".sqlite";
  if (root == RegistryRoot::CurrentUser || !elevated) return userConfigFolder() + "/lumo/registry/" + file;
  return machinePath("/var/lib/lumo/registry/" + file);
}

std::string registryStorePath(RegistryRoot root) { return registryStorePath(root, runsAsRoot()); }

RegistryResult<RegistryKey> openKey(RegistryRoot root, std::string_view path) {
  return openBelow(databaseFor(registryStorePath(root)), root, kRootId, 0, path, false);
}

RegistryResult<RegistryKey> openKey(const RegistryKey& parent, std::string_view path) {
  return openBelow(parent, path, false);
}

RegistryResult<RegistryKey> createKey(RegistryRoot root, std::string_view path) {
  return openBelow(databaseFor(registryStorePath(root)), root, kRootId, 0, path, true);
}

RegistryResult<RegistryKey> createKey(const RegistryKey& parent, std::string_view path) {
  return openBelow(parent, path, true);
}

RegistryResult<RegistryValue> queryValue(const RegistryKey& key, std::string_view name) {
  if (RegistryResult<> open = requireOpen(key); !open) return open.failure();
  RegistryDatabase& database = *RegistryAccess::database(key);
  std::lock_guard lock(database.mutex());
  if (RegistryResult<> opened = database.open(false); !opened) return opened.failure();
  if (RegistryResult<> alive = checkAlive(database, key); !alive) return alive.failure();
  if (!database.handle()) return fail(RegistryStatus::NotFound, "value not found: " + std::string(name));
  Statement select(database.handle(), "SELECT type, data FROM key_values WHERE key=?1 AND folded=?2");
  select.bind(1, RegistryAccess::id(key)).bind(2, foldName(name));
  int rc = select.step();
  if (rc == SQLITE_DONE) return fail(RegistryStatus::NotFound, "value not found: " + std::string(name));
  if (rc != SQLITE_ROW) return database.sqliteFailure("read value");
  return RegistryValue{static_cast<RegistryType>(select.integer(0)), select.text(1)};
}

RegistryResult<> setValue(const RegistryKey& key, std::string_view name, RegistryType type, std::string_view bytes) {
  if (RegistryResult<> open = requireOpen(key); !open) return open;
  RegistryDatabase& database = *RegistryAccess::database(key);
  std::lock_guard lock(database.mutex());
  if (RegistryResult<> opened = database.open(true); !opened) return opened;
  Transaction transaction(database.handle());
  if (!transaction.begun()) return database.sqliteFailure("write value");
  if (RegistryResult<> alive = checkAlive(database, key); !alive) return alive;
  // An existing value keeps the spelling of its name, as in Windows.
  Statement upsert(database.handle(),
                   "INSERT INTO key_values(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                   "ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data");
  upsert.bind(1, RegistryAccess::id(key)).bind(2, name).bind(3, foldName(name));
  upsert.bind(4, static_cast<std::int64_t>(type)).bindBlob(5, bytes);
  if (upsert.step() != SQLITE_DONE) return database.sqliteFailure("write value");
  if (!transaction.commit()) return database.sqliteFailure("write value");
  return {};
}

RegistryResult<> setString(const RegistryKey& key, std::string_view name, std::string_view text) {
  std::string bytes(text);
  bytes += '\0';
  return setValue(key, name, RegistryType::String, bytes);
}

RegistryResult<> setDword(const RegistryKey& key, std::string_view name, std::uint32_t number) {
  char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
  return setValue(key, name, RegistryType::Dword, std::string_view(bytes, 4));
}

RegistryResult<std::string> enumSubkey(const RegistryKey& key, std::uint32_t index, std::size_t maxUnits) {
  if (RegistryResult<> open = requireOpen(key); !open) return open.failure();
  RegistryDatabase& database = *RegistryAccess::database(key);
  std::lock_guard lock(database.mutex());
  if (RegistryResult<> opened = database.open(false); !opened) return opened.failure();
  if (RegistryResult<> alive = checkAlive(database, key); !alive) return alive.failure();
  if (!database.handle()) return fail(RegistryStatus::NoMoreItems, "no more subkeys");
  Statement select(database.handle(), "SELECT name FROM keys WHERE parent=?1 ORDER BY folded LIMIT 1 OFFSET ?2");
  select.bind(1, RegistryAccess::id(key)).bind(2, static_cast<std::int64_t>(index));
  int rc = select.step();
  if (rc == SQLITE_DONE) return fail(RegistryStatus::NoMoreItems, "no more subkeys");
  if (rc != SQLITE_ROW) return database.sqliteFailure("enumerate subkeys");
  std::string found = select.text(0);
  if (utf16Length(found) >= maxUnits)
    return fail(RegistryStatus::MoreData, "subkey name longer than the buffer: " + found);
  return found;
}

RegistryResult<NamedRegistryValue> enumValue(const RegistryKey& key, std::uint32_t index) {
  if (RegistryResult<> open = requireOpen(key); !open) return open.failure();
  RegistryDatabase& database = *RegistryAccess::database(key);
  std::lock_guard lock(database.mutex());
  if (RegistryResult<> opened = database.open(false); !opened) return opened.failure();
  if (RegistryResult<> alive = checkAlive(database, key); !alive) return alive.failure();
  if (!database.handle()) return fail(RegistryStatus::NoMoreItems, "no more values");
  Statement select(database.handle(),
                   "SELECT name, type, data FROM key_values WHERE key=?1 ORDER BY folded LIMIT 1 OFFSET ?2");
  select.bind(1, RegistryAccess::id(key)).bind(2, static_cast<std::int64_t>(index));
  int rc = select.step();
  if (rc == SQLITE_DONE) return fail(RegistryStatus::NoMoreItems, "no more values");
  if (rc != SQLITE_ROW) return database.sqliteFailure("enumerate values");
  RegistryValue value{static_cast<RegistryType>(select.integer(1)), select.text(2)};
  return NamedRegistryValue{select.text(0), std::move(value)};
}

RegistryResult<> deleteKey(const RegistryKey& parent, std::string_view name) {
  if (RegistryResult<> open = requireOpen(parent); !open) return open;
  std::vector<std::string_view> names;
  if (!splitPath(name, names)) return emptyKeyName(name);
  if (names.empty()) return fail(RegistryStatus::BadKey, "no key name given");
  RegistryDatabase& database = *RegistryAccess::database(parent);
  std::lock_guard lock(database.mutex());
  if (RegistryResult<> opened = database.open(false); !opened) return opened;
  if (!database.handle()) return fail(RegistryStatus::NotFound, "key not found: " + std::string(name));
  Transaction transaction(database.handle());
  if (!transaction.begun()) return database.sqliteFailure("delete key");
  if (RegistryResult<> alive = checkAlive(database, parent); !alive) return alive;
  RegistryResult<std::int64_t> id = walk(database, RegistryAccess::id(parent), name, false);
  if (!id) return id.failure();
  Statement children(database.handle(), "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1");
  children.bind(1, *id);
  int rc = children.step();
  if (rc == SQLITE_ROW) return fail(RegistryStatus::KeyHasChildren, "key has subkeys: " + std::string(name));
  if (rc != SQLITE_DONE) return database.sqliteFailure("delete key");
  Statement values(database.handle(), "DELETE FROM key_values WHERE key=?1");
  values.bind(1, *id);
  Statement key(database.handle(), "DELETE FROM keys WHERE id=?1");
  key.bind(1, *id);
  if (values.step() != SQLITE_DONE || key.step() != SQLITE_DONE) return database.sqliteFailure("delete key");
  if (!transaction.commit()) return database.sqliteFailure("delete key");
  return {};
}

RegistryResult<> deleteTree(const RegistryKey& parent, std::string_view name, std::size_t maxUnits) {
  if (RegistryResult<> open = requireOpen(parent); !open) return open;
  if (name.empty()) return fail(RegistryStatus::BadKey, "no key name given");
  RegistryDatabase& database = *RegistryAccess::database(parent);
  std::lock_guard lock(database.mutex());
  if (RegistryResult<> opened = database.open(false); !opened) return opened;
  if (!database.handle()) return fail(RegistryStatus::NotFound, "key not found: " + std::string(name));
  sqlite3* db = database.handle();
  Transaction transaction(db);
  if (!transaction.begun()) return database.sqliteFailure("delete key");
  if (RegistryResult<> alive = checkAlive(database, parent); !alive) return alive;
  RegistryResult<std::int64_t> top = walk(database, RegistryAccess::id(parent), name, false);
  if (!top) return top.failure();
  // The keys from the one named down to the one being looked at: a list,
  // not the call stack, since a store may hold chains far deeper than the
  // limit for new keys (written by other programs).
  std::vector<std::int64_t> path{*top};
  Statement firstChild(db, "SELECT id, name FROM keys WHERE parent=?1 ORDER BY folded LIMIT 1");
  Statement values(db, "DELETE FROM key_values WHERE key=?1");
  Statement key(db, "DELETE FROM keys WHERE id=?1");
  RegistryResult<> result;
  while (!path.empty()) {
    firstChild.reset();
    firstChild.bind(1, path.back());
    int rc = firstChild.step();
    if (rc == SQLITE_ROW) {
      std::string child = firstChild.text(1);
      if (utf16Length(child) >= maxUnits) {
        result = fail(RegistryStatus::MoreData, "subkey name longer than the buffer: " + child);
        break;
      }
      path.push_back(firstChild.integer(0));
      continue;
    }
    if (rc != SQLITE_DONE) return database.sqliteFailure("delete key");
    firstChild.reset();  // its read of the table ends before the deletes
    values.reset();
    key.reset();
    values.bind(1, path.back());
    key.bind(1, path.back());
    if (values.step() != SQLITE_DONE || key.step() != SQLITE_DONE) return database.sqliteFailure("delete key");
    path.pop_back();
  }
  // What was deleted before a name that does not fit stays deleted.
  if (!transaction.commit()) return database.sqliteFailure("delete key");
  return result;
}

RegistryResult<> deleteKey(RegistryRoot root, std::string_view path) {
  RegistryResult<RegistryKey> rootKey = openKey(root, "");
  if (!rootKey) return rootKey.failure();
  return deleteKey(*rootKey, path);
}

RegistryResult<> deleteValue(const RegistryKey& key, std::string_view name) {
  if (RegistryResult<> open = requireOpen(key); !open) return open;
  RegistryDatabase& database = *RegistryAccess::database(key);
  std::lock_guard lock(database.mutex());
  if (RegistryResult<> opened = database.open(false); !opened) return opened;
  if (RegistryResult<> alive = checkAlive(database, key); !alive) return alive;
  if (!database.handle()) return fail(RegistryStatus::NotFound, "value not found: " + std::string(name));
  Transaction transaction(database.handle());
  if (!transaction.begun()) return database.sqliteFailure("delete value");
  Statement remove(database.handle(), "DELETE FROM key_values WHERE key=?1 AND folded=?2");
  remove.bind(1, RegistryAccess::id(key)).bind(2, foldName(name));
  if (remove.step() != SQLITE_DONE) return database.sqliteFailure("delete value");
  if (::sqlite3_changes(database.handle()) == 0)
    return fail(RegistryStatus::NotFound, "value not found: " + std::string(name));
  if (!transaction.commit()) return database.sqliteFailure("delete value");
  return {};
}

std::string valueText(const RegistryValue& value) {
  return value.bytes.substr(0, value.bytes.find('\0'));
}

}  // namespace lumo
