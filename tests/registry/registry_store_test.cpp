#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "registry_fixture.h"

namespace lumo::test {
namespace {

using RegistryStoreTest = RegistryTest;

TEST_F(RegistryStoreTest, EachRootLivesInItsOwnFileWhereTheUserAndTheSysrootSay) {
  struct Case {
    RegistryRoot root;
    bool elevated;
    std::string expected;
  };
  const Case cases[] = {
      {RegistryRoot::CurrentUser, true, temp / "config/lumo/registry/current_user.sqlite"},
      {RegistryRoot::CurrentUser, false, temp / "config/lumo/registry/current_user.sqlite"},
      {RegistryRoot::LocalMachine, true, temp / "sysroot/var/lib/lumo/registry/local_machine.sqlite"},
      {RegistryRoot::ClassesRoot, true, temp / "sysroot/var/lib/lumo/registry/classes_root.sqlite"},
      // Without root, machine keys are virtualised into the user's folder.
      {RegistryRoot::LocalMachine, false, temp / "config/lumo/registry/local_machine.sqlite"},
      {RegistryRoot::ClassesRoot, false, temp / "config/lumo/registry/classes_root.sqlite"},
  };
  for (const Case& c : cases) EXPECT_EQ(registryStorePath(c.root, c.elevated), c.expected);

  ScopedEnv noConfig("XDG_CONFIG_HOME", std::nullopt);
  EXPECT_EQ(registryStorePath(RegistryRoot::CurrentUser, false),
            temp / "home/.config/lumo/registry/current_user.sqlite");
}

TEST_F(RegistryStoreTest, WritesLandInTheFileOfTheirRootOnly) {
  writeString(RegistryRoot::CurrentUser, "Software\\A", "v", "user");
  writeString(RegistryRoot::ClassesRoot, "Software\\A", "v", "classes");
  EXPECT_TRUE(pathExists(registryStorePath(RegistryRoot::CurrentUser)));
  EXPECT_TRUE(pathExists(registryStorePath(RegistryRoot::ClassesRoot)));
  EXPECT_FALSE(pathExists(registryStorePath(RegistryRoot::LocalMachine)));
  EXPECT_EQ(valueText(*readValue(RegistryRoot::CurrentUser, "Software\\A", "v")), "user");
  EXPECT_EQ(valueText(*readValue(RegistryRoot::ClassesRoot, "Software\\A", "v")), "classes");
  EXPECT_FALSE(keyExists(RegistryRoot::LocalMachine, "Software\\A"));
}

TEST_F(RegistryStoreTest, ReadingAMissingStoreFindsAnEmptyRootAndCreatesNothing) {
  RegistryKey root;
  ASSERT_EQ(openKey(RegistryRoot::LocalMachine, "", root), RegistryStatus::Ok);
  std::string name;
  EXPECT_EQ(enumSubkey(root, 0, name), RegistryStatus::NoMoreItems);
  RegistryValue value;
  EXPECT_EQ(queryValue(root, "x", value), RegistryStatus::NotFound);
  RegistryKey key;
  EXPECT_EQ(openKey(RegistryRoot::LocalMachine, "Software", key), RegistryStatus::NotFound);
  EXPECT_FALSE(pathExists(registryStorePath(RegistryRoot::LocalMachine)));

  // A key on the root of a store that did not exist yet can still write.
  ASSERT_EQ(setString(root, "first", "1"), RegistryStatus::Ok);
  EXPECT_EQ(valueText(*readValue(RegistryRoot::LocalMachine, "", "first")), "1");
}

TEST_F(RegistryStoreTest, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
  writeString(RegistryRoot::CurrentUser, "Software\\Vexta影音\\Ärger", "DisplayName", "one");
  // Another spelling of the same names reaches the same key and value.
  writeString(RegistryRoot::CurrentUser, "SOFTWARE\\vexta影音\\äRGER", "displayname", "two");

  RegistryKey key;
  ASSERT_EQ(openKey(RegistryRoot::CurrentUser, "software\\VEXTA影音", key), RegistryStatus::Ok);
  std::string name;
  ASSERT_EQ(enumSubkey(key, 0, name), RegistryStatus::Ok);
  EXPECT_EQ(name, "Ärger");
  EXPECT_EQ(enumSubkey(key, 1, name), RegistryStatus::NoMoreItems);

  ASSERT_EQ(openKey(key, "ÄRGER", key), RegistryStatus::Ok);
  RegistryValue value;
  ASSERT_EQ(enumValue(key, 0, name, value), RegistryStatus::Ok);
  EXPECT_EQ(name, "DisplayName");
  EXPECT_EQ(valueText(value), "two");
  EXPECT_EQ(enumValue(key, 1, name, value), RegistryStatus::NoMoreItems);
}

TEST_F(RegistryStoreTest, ValuesKeepTheirTypeAndBytes) {
  RegistryKey key;
  ASSERT_EQ(createKey(RegistryRoot::LocalMachine, "Software\\Types", key), RegistryStatus::Ok);
  ASSERT_EQ(setString(key, "", "default"), RegistryStatus::Ok);
  ASSERT_EQ(setString(key, "empty", ""), RegistryStatus::Ok);
  ASSERT_EQ(setDword(key, "n", 0x01020304), RegistryStatus::Ok);
  ASSERT_EQ(setValue(key, "blob", RegistryType::Binary, std::string("a\0b", 3)), RegistryStatus::Ok);

  struct Case {
    const char* name;
    RegistryType type;
    std::string bytes;
  };
  const Case cases[] = {
      {"", RegistryType::String, std::string("default\0", 8)},
      {"empty", RegistryType::String, std::string("\0", 1)},
      {"n", RegistryType::Dword, std::string("\x04\x03\x02\x01", 4)},
      {"blob", RegistryType::Binary, std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    RegistryValue value;
    ASSERT_EQ(queryValue(key, c.name, value), RegistryStatus::Ok) << c.name;
    EXPECT_EQ(value.type, c.type) << c.name;
    EXPECT_EQ(value.bytes, c.bytes) << c.name;
  }
  // A value changes its type when written again.
  ASSERT_EQ(setString(key, "n", "text"), RegistryStatus::Ok);
  EXPECT_EQ(readValue(RegistryRoot::LocalMachine, "Software\\Types", "n")->type, RegistryType::String);
  ASSERT_EQ(deleteValue(key, "N"), RegistryStatus::Ok);
  EXPECT_EQ(deleteValue(key, "n"), RegistryStatus::NotFound);
}

TEST_F(RegistryStoreTest, PathsWithEmptyKeyNamesAreRefused) {
  RegistryKey key;
  EXPECT_EQ(createKey(RegistryRoot::CurrentUser, "A\\\\B", key), RegistryStatus::InvalidParameter);
  EXPECT_EQ(createKey(RegistryRoot::CurrentUser, "\\A", key), RegistryStatus::InvalidParameter);
  EXPECT_FALSE(keyExists(RegistryRoot::CurrentUser, "A"));
  // A trailing separator names the same key.
  ASSERT_EQ(createKey(RegistryRoot::CurrentUser, "A\\B\\", key), RegistryStatus::Ok);
  EXPECT_TRUE(keyExists(RegistryRoot::CurrentUser, "a\\b"));
}

TEST_F(RegistryStoreTest, SubkeysEnumerateInNameOrderAndLongNamesNeedABiggerBuffer) {
  RegistryKey parent;
  ASSERT_EQ(createKey(RegistryRoot::CurrentUser, "P", parent), RegistryStatus::Ok);
  RegistryKey child;
  for (const char* name : {"b", "C", "a"}) ASSERT_EQ(createKey(parent, name, child), RegistryStatus::Ok);
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0; enumSubkey(parent, i, name) == RegistryStatus::Ok; ++i) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "C"}));

  // The buffer holds the name and a terminating zero, counted in UTF-16 units.
  RegistryKey wide;
  ASSERT_EQ(createKey(RegistryRoot::CurrentUser, "W", wide), RegistryStatus::Ok);
  ASSERT_EQ(createKey(wide, "影影影", child), RegistryStatus::Ok);
  EXPECT_EQ(enumSubkey(wide, 0, name, 4), RegistryStatus::Ok);
  EXPECT_EQ(enumSubkey(wide, 0, name, 3), RegistryStatus::MoreData);
}

TEST_F(RegistryStoreTest, DeleteKeyRefusesAKeyWithSubkeysAndTakesItsValues) {
  writeString(RegistryRoot::CurrentUser, "T\\Child", "v", "1");
  writeString(RegistryRoot::CurrentUser, "T", "w", "2");
  RegistryKey root;
  ASSERT_EQ(openKey(RegistryRoot::CurrentUser, "", root), RegistryStatus::Ok);
  EXPECT_EQ(deleteKey(root, "T"), RegistryStatus::KeyHasChildren);
  EXPECT_EQ(deleteKey(root, ""), RegistryStatus::BadKey);
  EXPECT_EQ(deleteKey(root, "T\\Missing"), RegistryStatus::NotFound);

  RegistryKey child;
  ASSERT_EQ(openKey(RegistryRoot::CurrentUser, "T\\Child", child), RegistryStatus::Ok);
  ASSERT_EQ(deleteKey(root, "t\\child"), RegistryStatus::Ok);
  // A key opened before its deletion reports it instead of writing nowhere.
  EXPECT_EQ(setString(child, "v", "x"), RegistryStatus::KeyDeleted);
  ASSERT_EQ(deleteKey(RegistryRoot::CurrentUser, "T"), RegistryStatus::Ok);

  // Made again, the key is empty: the old values went with the old key.
  RegistryKey again;
  ASSERT_EQ(createKey(RegistryRoot::CurrentUser, "T\\Child", again), RegistryStatus::Ok);
  RegistryValue value;
  EXPECT_EQ(queryValue(again, "v", value), RegistryStatus::NotFound);
}

// The process keeps stores open between operations; a store moved away (to
// start afresh, say) must not keep receiving the writes meant for its path.
TEST_F(RegistryStoreTest, AStoreMovedAwayIsNoLongerWritten) {
  const std::string path = registryStorePath(RegistryRoot::CurrentUser);
  writeString(RegistryRoot::CurrentUser, "Software\\Old", "v", "old");
  RegistryKey old;
  ASSERT_EQ(openKey(RegistryRoot::CurrentUser, "Software\\Old", old), RegistryStatus::Ok);
  std::filesystem::rename(path, path + ".saved");
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");

  EXPECT_FALSE(keyExists(RegistryRoot::CurrentUser, "Software\\Old"));
  EXPECT_EQ(setString(old, "v", "lost?"), RegistryStatus::KeyDeleted);
  writeString(RegistryRoot::CurrentUser, "Software\\New", "v", "new");
  EXPECT_TRUE(pathExists(path));
  EXPECT_FALSE(keyExists(RegistryRoot::CurrentUser, "Software\\Old"));
  EXPECT_EQ(valueText(*readValue(RegistryRoot::CurrentUser, "Software\\New", "v")), "new");
}

// Whatever sits where the store should be and is not a store stays as it was.
TEST_F(RegistryStoreTest, AFileThatIsNotAStoreIsReportedAndLeftAlone) {
  const std::string path = registryStorePath(RegistryRoot::LocalMachine);
  const std::string garbage = "this is not a database\n" + std::string(5000, 'x');

  struct Case {
    const char* what;
    std::function<void()> make;
  };
  const Case cases[] = {
      {"text file", [&] { writeFile(path, garbage); }},
      {"cut store",
       [&] {
         writeString(RegistryRoot::LocalMachine, "K", "v", std::string(20000, 'v'));
         // Fold the log into the file, then damage the file.
         sqlite3* db = nullptr;
         ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
         ASSERT_EQ(sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr), SQLITE_OK);
         sqlite3_close(db);
         std::string bytes = readFile(path);
         ASSERT_GT(bytes.size(), 20000u);
         for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
         bytes.resize(4096);
         bytes.replace(100, 100, std::string(100, '\xff'));
         writeFile(path, bytes + std::string(4096, '\x5a'));
       }},
      {"foreign database",
       [&] {
         std::filesystem::create_directories(std::filesystem::path(path).parent_path());
         sqlite3* db = nullptr;
         ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
         sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr);
         sqlite3_close(db);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(temp / "sysroot");
    c.make();
    const std::string before = readFile(path);

    RegistryKey key;
    EXPECT_EQ(createKey(RegistryRoot::LocalMachine, "Software\\New", key), RegistryStatus::StoreDamaged);
    EXPECT_NE(lastRegistryError().find(path), std::string::npos) << lastRegistryError();
    EXPECT_NE(lastRegistryError().find("left as it is"), std::string::npos);
    RegistryStatus status = openKey(RegistryRoot::LocalMachine, "K", key);
    EXPECT_TRUE(status == RegistryStatus::StoreDamaged || status == RegistryStatus::NotFound)
        << static_cast<long>(status);
    EXPECT_EQ(readFile(path), before);
  }
}

// Several processes writing one store at once: nothing may be lost.
TEST_F(RegistryStoreTest, ProcessesWritingAtOnceLoseNothing) {
  constexpr int kProcesses = 4;
  constexpr int kWrites = 60;
  writeString(RegistryRoot::LocalMachine, "Shared", "start", "1");
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kWrites; ++i) {
        RegistryKey key;
        std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
        // Alternate between one shared key and a key per write, so that both
        // value writes and key creation race.
        if (createKey(RegistryRoot::LocalMachine, i % 2 ? "Shared" : "Shared\\" + name, key) != RegistryStatus::Ok ||
            setString(key, name, name) != RegistryStatus::Ok)
          ++failures;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kWrites; ++i) {
      std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
      auto value = readValue(RegistryRoot::LocalMachine, i % 2 ? "Shared" : "Shared\\" + name, name);
      ASSERT_TRUE(value.has_value()) << name;
      EXPECT_EQ(valueText(*value), name);
    }
  }
}

// The dialog thread and a worker may use the store at the same time.
TEST_F(RegistryStoreTest, ThreadsWritingAtOnceLoseNothing) {
  constexpr int kWrites = 100;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kWrites; ++i) {
        RegistryKey key;
        std::string name = std::to_string(t) + "_" + std::to_string(i);
        if (createKey(RegistryRoot::CurrentUser, "Threads\\" + std::to_string(i % 7), key) == RegistryStatus::Ok)
          setString(key, name, name);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 3; ++t) {
    for (int i = 0; i < kWrites; ++i) {
      std::string name = std::to_string(t) + "_" + std::to_string(i);
      auto value = readValue(RegistryRoot::CurrentUser, "Threads\\" + std::to_string(i % 7), name);
      ASSERT_TRUE(value.has_value()) << name;
      EXPECT_EQ(valueText(*value), name);
    }
  }
}

}  // namespace
}  // namespace lumo::test
