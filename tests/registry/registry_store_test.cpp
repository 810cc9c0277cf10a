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
  RegistryResult<RegistryKey> root = openKey(RegistryRoot::LocalMachine, "");
  ASSERT_TRUE(root) << root.why();
  EXPECT_EQ(failed(enumSubkey(*root, 0)), RegistryStatus::NoMoreItems);
  EXPECT_EQ(failed(queryValue(*root, "x")), RegistryStatus::NotFound);
  EXPECT_EQ(failed(openKey(RegistryRoot::LocalMachine, "Software")), RegistryStatus::NotFound);
  EXPECT_FALSE(pathExists(registryStorePath(RegistryRoot::LocalMachine)));

  // A key on the root of a store that did not exist yet can still write.
  ASSERT_EQ(failed(setString(*root, "first", "1")), std::nullopt);
  EXPECT_EQ(valueText(*readValue(RegistryRoot::LocalMachine, "", "first")), "1");
}

TEST_F(RegistryStoreTest, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
  writeString(RegistryRoot::CurrentUser, "Software\\Vexta影音\\Ärger", "DisplayName", "one");
  // Another spelling of the same names reaches the same key and value.
  writeString(RegistryRoot::CurrentUser, "SOFTWARE\\vexta影音\\äRGER", "displayname", "two");

  RegistryResult<RegistryKey> key = openKey(RegistryRoot::CurrentUser, "software\\VEXTA影音");
  ASSERT_TRUE(key) << key.why();
  RegistryResult<std::string> name = enumSubkey(*key, 0);
  ASSERT_TRUE(name) << name.why();
  EXPECT_EQ(*name, "Ärger");
  EXPECT_EQ(failed(enumSubkey(*key, 1)), RegistryStatus::NoMoreItems);

  key = openKey(*key, "ÄRGER");
  ASSERT_TRUE(key) << key.why();
  RegistryResult<NamedRegistryValue> value = enumValue(*key, 0);
  ASSERT_TRUE(value) << value.why();
  EXPECT_EQ(value->name, "DisplayName");
  EXPECT_EQ(valueText(value->value), "two");
  EXPECT_EQ(failed(enumValue(*key, 1)), RegistryStatus::NoMoreItems);
}

TEST_F(RegistryStoreTest, ValuesKeepTheirTypeAndBytes) {
  RegistryResult<RegistryKey> key = createKey(RegistryRoot::LocalMachine, "Software\\Types");
  ASSERT_TRUE(key) << key.why();
  ASSERT_EQ(failed(setString(*key, "", "default")), std::nullopt);
  ASSERT_EQ(failed(setString(*key, "empty", "")), std::nullopt);
  ASSERT_EQ(failed(setDword(*key, "n", 0x01020304)), std::nullopt);
  ASSERT_EQ(failed(setValue(*key, "blob", RegistryType::Binary, std::string("a\0b", 3))), std::nullopt);

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
    RegistryResult<RegistryValue> value = queryValue(*key, c.name);
    ASSERT_TRUE(value) << c.name;
    EXPECT_EQ(value->type, c.type) << c.name;
    EXPECT_EQ(value->bytes, c.bytes) << c.name;
  }
  // A value changes its type when written again.
  ASSERT_EQ(failed(setString(*key, "n", "text")), std::nullopt);
  EXPECT_EQ(readValue(RegistryRoot::LocalMachine, "Software\\Types", "n")->type, RegistryType::String);
  ASSERT_EQ(failed(deleteValue(*key, "N")), std::nullopt);
  EXPECT_EQ(failed(deleteValue(*key, "n")), RegistryStatus::NotFound);
}

TEST_F(RegistryStoreTest, PathsWithEmptyKeyNamesAreRefused) {
  EXPECT_EQ(failed(createKey(RegistryRoot::CurrentUser, "A\\\\B")), RegistryStatus::InvalidParameter);
  EXPECT_EQ(failed(createKey(RegistryRoot::CurrentUser, "\\A")), RegistryStatus::InvalidParameter);
  EXPECT_FALSE(keyExists(RegistryRoot::CurrentUser, "A"));
  // A trailing separator names the same key.
  ASSERT_EQ(failed(createKey(RegistryRoot::CurrentUser, "A\\B\\")), std::nullopt);
  EXPECT_TRUE(keyExists(RegistryRoot::CurrentUser, "a\\b"));
}

TEST_F(RegistryStoreTest, SubkeysEnumerateInNameOrderAndLongNamesNeedABiggerBuffer) {
  RegistryResult<RegistryKey> parent = createKey(RegistryRoot::CurrentUser, "P");
  ASSERT_TRUE(parent) << parent.why();
  for (const char* name : {"b", "C", "a"}) ASSERT_EQ(failed(createKey(*parent, name)), std::nullopt);
  std::vector<std::string> names;
  for (std::uint32_t i = 0;; ++i) {
    RegistryResult<std::string> name = enumSubkey(*parent, i);
    if (!name) break;
    names.push_back(*name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "C"}));

  // The buffer holds the name and a terminating zero, counted in UTF-16 units.
  RegistryResult<RegistryKey> wide = createKey(RegistryRoot::CurrentUser, "W");
  ASSERT_TRUE(wide) << wide.why();
  ASSERT_EQ(failed(createKey(*wide, "影影影")), std::nullopt);
  EXPECT_EQ(failed(enumSubkey(*wide, 0, 4)), std::nullopt);
  EXPECT_EQ(failed(enumSubkey(*wide, 0, 3)), RegistryStatus::MoreData);
}

TEST_F(RegistryStoreTest, DeleteKeyRefusesAKeyWithSubkeysAndTakesItsValues) {
  writeString(RegistryRoot::CurrentUser, "T\\Child", "v", "1");
  writeString(RegistryRoot::CurrentUser, "T", "w", "2");
  RegistryResult<RegistryKey> root = openKey(RegistryRoot::CurrentUser, "");
  ASSERT_TRUE(root) << root.why();
  EXPECT_EQ(failed(deleteKey(*root, "T")), RegistryStatus::KeyHasChildren);
  EXPECT_EQ(failed(deleteKey(*root, "")), RegistryStatus::BadKey);
  EXPECT_EQ(failed(deleteKey(*root, "T\\Missing")), RegistryStatus::NotFound);

  RegistryResult<RegistryKey> child = openKey(RegistryRoot::CurrentUser, "T\\Child");
  ASSERT_TRUE(child) << child.why();
  ASSERT_EQ(failed(deleteKey(*root, "t\\child")), std::nullopt);
  // A key opened before its deletion reports it instead of writing nowhere.
  EXPECT_EQ(failed(setString(*child, "v", "x")), RegistryStatus::KeyDeleted);
  ASSERT_EQ(failed(deleteKey(RegistryRoot::CurrentUser, "T")), std::nullopt);

  // Made again, the key is empty: the old values went with the old key.
  RegistryResult<RegistryKey> again = createKey(RegistryRoot::CurrentUser, "T\\Child");
  ASSERT_TRUE(again) << again.why();
  EXPECT_EQ(failed(queryValue(*again, "v")), RegistryStatus::NotFound);
}

// The process keeps stores open between operations; a store moved away (to
// start afresh, say) must not keep receiving the writes meant for its path.
TEST_F(RegistryStoreTest, AStoreMovedAwayIsNoLongerWritten) {
  const std::string path = registryStorePath(RegistryRoot::CurrentUser);
  writeString(RegistryRoot::CurrentUser, "Software\\Old", "v", "old");
  RegistryResult<RegistryKey> old = openKey(RegistryRoot::CurrentUser, "Software\\Old");
  ASSERT_TRUE(old) << old.why();
  std::filesystem::rename(path, path + ".saved");
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");

  EXPECT_FALSE(keyExists(RegistryRoot::CurrentUser, "Software\\Old"));
  EXPECT_EQ(failed(setString(*old, "v", "lost?")), RegistryStatus::KeyDeleted);
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

    RegistryResult<RegistryKey> created = createKey(RegistryRoot::LocalMachine, "Software\\New");
    EXPECT_EQ(failed(created), RegistryStatus::StoreDamaged);
    EXPECT_NE(created.why().find(path), std::string::npos) << created.why();
    EXPECT_NE(created.why().find("left as it is"), std::string::npos);
    std::optional<RegistryStatus> status = failed(openKey(RegistryRoot::LocalMachine, "K"));
    EXPECT_TRUE(status == RegistryStatus::StoreDamaged || status == RegistryStatus::NotFound)
        << static_cast<long>(status.value_or(RegistryStatus{}));
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
        std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
        // Alternate between one shared key and a key per write, so that both
        // value writes and key creation race.
        RegistryResult<RegistryKey> key = createKey(RegistryRoot::LocalMachine, i % 2 ? "Shared" : "Shared\\" + name);
        if (!key || !setString(*key, name, name)) ++failures;
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
        std::string name = std::to_string(t) + "_" + std::to_string(i);
        if (RegistryResult<RegistryKey> key = createKey(RegistryRoot::CurrentUser, "Threads\\" + std::to_string(i % 7)))
          static_cast<void>(setString(*key, name, name));
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
