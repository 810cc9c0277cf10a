// The install record's file, the digest computed as bytes are written, and
// the exact removal of a product folder by its record.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "commands/recorded_removal.h"
#include "formats/install_record.h"
#include "platform/digest.h"
#include "script/install_recorder.h"
#include "support/test_support.h"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using test::pathExists;
using test::readFile;
using test::TempDir;
using test::writeFile;

constexpr const char* kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

struct Piece {
  std::string bytes;
  std::uint64_t offset;
};

struct StreamCase {
  const char* name;
  std::vector<Piece> pieces;
  std::optional<std::string> digest;  // nothing: unknown
  std::uint64_t size;
};

TEST(Sha256Stream, DigestsBytesAsTheyAreWrittenAtTheirOffsets) {
  const std::string holeDigest = sha256Of(std::string("a\0\0c", 4));
  const StreamCase cases[] = {
      {"one piece", {{"abc", 0}}, kAbc, 3},
      {"pieces in order", {{"a", 0}, {"bc", 1}}, kAbc, 3},
      {"a hole counts as zero bytes", {{"a", 0}, {"c", 3}}, holeDigest, 4},
      {"bytes written again leave it unknown", {{"abc", 0}, {"b", 1}}, std::nullopt, 3},
  };
  for (const StreamCase& c : cases) {
    Sha256Stream stream;
    for (const Piece& piece : c.pieces) stream.updateAt(piece.bytes.data(), piece.bytes.size(), piece.offset);
    EXPECT_EQ(stream.size(), c.size) << c.name;
    EXPECT_EQ(stream.finish(), c.digest) << c.name;
  }
}

std::unique_ptr<InstallRecordFile> openRecord(const std::string& path, bool create = true) {
  auto opened = InstallRecordFile::open(path, create);
  EXPECT_TRUE(opened) << opened.why();
  if (!opened || !*opened) return nullptr;
  return std::move(**opened);
}

TEST(InstallRecordFile, KeepsEveryKindOfItemReplacesByKindLocationAndNameAndDrops) {
  TempDir dir;
  const std::string path = dir / "records/Vexta.sqlite";
  std::vector<RecordItem> items = {
      {.kind = RecordKind::File, .location = "/opt/Vexta/a.exe", .size = 3, .sha256 = kAbc, .source = "payload:a.exe"},
      {.kind = RecordKind::File, .location = "/opt/Vexta/p.ini", .source = "settings"},
      {.kind = RecordKind::Folder, .location = "/opt/Vexta"},
      {.kind = RecordKind::Link, .location = "/opt/Vexta/l", .source = "a.exe"},
      {.kind = RecordKind::Shortcut, .location = "/m/V.desktop", .size = 0, .sha256 = sha256Of("")},
      {.kind = RecordKind::Icon, .location = "/i/v.png", .size = 1, .sha256 = sha256Of("x")},
      {.kind = RecordKind::Association, .location = "/m/lumo-v.xml", .size = 1, .sha256 = sha256Of("y")},
      {.kind = RecordKind::RegistryValue, .location = "HKEY_LOCAL_MACHINE\\Software\\LuMo", .name = "", .source = "d"},
      {.kind = RecordKind::IniValue, .location = "/opt/Vexta/p.ini", .name = "Setting/Dir", .source = "/opt"},
      {.kind = RecordKind::XmlValue, .location = "/opt/Vexta/s.xml", .name = "version", .source = "1.4"},
  };
  {
    auto record = openRecord(path);
    ASSERT_TRUE(record);
    ASSERT_TRUE(record->change(items, {}));
  }
  auto record = openRecord(path, false);
  ASSERT_TRUE(record);
  auto read = record->items();
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, items);

  // The same kind, location and name: replaced in place; another kind at
  // the same location is another item.
  RecordItem rewritten = items[0];
  rewritten.sha256.reset();
  rewritten.size.reset();
  ASSERT_TRUE(record->change({rewritten}, {items[2], items[7]}));
  std::vector<RecordItem> expected = items;
  expected[0] = rewritten;
  expected.erase(expected.begin() + 7);
  expected.erase(expected.begin() + 2);
  EXPECT_EQ(*record->items(), expected);
}

TEST(InstallRecordFile, AMissingRecordIsNothingAndAForeignOrNewerDatabaseIsLeftAlone) {
  TempDir dir;
  auto missing = InstallRecordFile::open(dir / "none.sqlite", false);
  ASSERT_TRUE(missing);
  EXPECT_FALSE(*missing);
  EXPECT_FALSE(pathExists(dir / "none.sqlite"));

  struct Foreign {
    const char* name;
    const char* sql;
  };
  for (const Foreign& foreign : {Foreign{"another program's", "PRAGMA application_id=7; CREATE TABLE t(x);"},
                                 Foreign{"tables without a mark", "CREATE TABLE t(x);"},
                                 Foreign{"a newer layout", "PRAGMA application_id=1280460099; PRAGMA user_version=9;"}}) {
    const std::string path = dir / (std::string(foreign.name) + ".sqlite");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, foreign.sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const std::string bytes = readFile(path);
    auto opened = InstallRecordFile::open(path, true);
    EXPECT_FALSE(opened) << foreign.name;
    EXPECT_NE(opened.why().find("left as it is"), std::string::npos) << opened.why();
    EXPECT_EQ(readFile(path), bytes) << foreign.name;
  }
}

// What exact removal takes from a product folder and what it leaves.
TEST(RecordedRemoval, RemovesWhatTheRecordListsThenEmptiedFoldersAndKeepsTheRest) {
  TempDir dir;
  const std::string folder = fs::canonical(dir.path()).string() + "/Vexta";
  const std::string outside = fs::canonical(dir.path()).string() + "/outside.txt";
  writeFile(outside, "not ours to follow");
  enableInstallRecord(dir / "record.sqlite", true);
  auto recordFile = [&](const std::string& relative) {
    writeFile(folder + "/" + relative, relative);
    noteRecordItem({.kind = RecordKind::File, .location = folder + "/" + relative, .size = relative.size(),
                    .sha256 = sha256Of(relative)});
  };
  noteRecordItem({.kind = RecordKind::Folder, .location = folder});
  recordFile("a.bin");
  recordFile("sub/b.bin");      // its folder empties and goes
  recordFile("shared/c.bin");   // its folder holds the user's file too
  recordFile("read-only.bin");  // read-only files stay, as for every removal
  ASSERT_EQ(::chmod((folder + "/read-only.bin").c_str(), 0444), 0);
  fs::create_directories(folder + "/recorded-empty");
  noteRecordItem({.kind = RecordKind::Folder, .location = folder + "/recorded-empty"});
  fs::create_symlink(outside, folder + "/link");
  noteRecordItem({.kind = RecordKind::Link, .location = folder + "/link", .source = outside});
  noteRecordItem({.kind = RecordKind::File, .location = folder + "/gone.bin"});  // already missing
  writeFile(folder + "/user.txt", "mine");
  writeFile(folder + "/shared/mine.txt", "mine");
  fs::create_directories(folder + "/users-empty");
  commitInstallRecord();

  std::vector<std::string> kept;
  ASSERT_TRUE(commands::removeRecordedFolder(currentCommandContext(), folder, &kept));
  EXPECT_EQ(kept, (std::vector<std::string>{folder + "/read-only.bin", folder + "/shared/mine.txt",
                                            folder + "/user.txt"}));
  for (const char* gone : {"a.bin", "sub", "shared/c.bin", "recorded-empty", "link"})
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder + "/" + gone))) << gone;
  for (const char* stays : {"users-empty", "shared/mine.txt", "user.txt", "read-only.bin"})
    EXPECT_TRUE(pathExists(folder + "/" + stays)) << stays;
  EXPECT_EQ(readFile(outside), "not ours to follow");
  EXPECT_TRUE(installRecordKeptFolder(folder));
  // The record lists what is still there.
  std::vector<std::string> listed;
  for (const RecordItem& item : recordedItems()) listed.push_back(item.location);
  EXPECT_EQ(listed, (std::vector<std::string>{folder, folder + "/read-only.bin"}));
  // Nothing on record below another folder: the caller removes it whole.
  EXPECT_FALSE(commands::removeRecordedFolder(currentCommandContext(), folder + "/users-empty"));
  ::chmod((folder + "/read-only.bin").c_str(), 0644);
  disableInstallRecord();
}

// A record changed by hand must not lead the removal out of the folder:
// neither by ".." in a path nor through a link planted inside it.
TEST(RecordedRemoval, NeverRemovesWhatARecordNamesOutsideTheFolder) {
  TempDir dir;
  const std::string base = fs::canonical(dir.path()).string();
  const std::string folder = base + "/Vexta";
  writeFile(base + "/precious.txt", "keep");
  writeFile(base + "/elsewhere/precious.txt", "keep");
  fs::create_directories(folder);
  fs::create_directory_symlink(base + "/elsewhere", folder + "/planted");
  enableInstallRecord(dir / "record.sqlite", true);
  for (const std::string& path : {folder + "/../precious.txt", folder + "/planted/precious.txt"})
    noteRecordItem({.kind = RecordKind::File, .location = path});
  commitInstallRecord();
  commands::removeRecordedFolder(currentCommandContext(), folder);
  EXPECT_EQ(readFile(base + "/precious.txt"), "keep");
  EXPECT_EQ(readFile(base + "/elsewhere/precious.txt"), "keep");
  disableInstallRecord();
}

}  // namespace
}  // namespace lumo
