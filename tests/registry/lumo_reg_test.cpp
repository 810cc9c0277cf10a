#include <sqlite3.h>

#include "registry_fixture.h"

namespace lumo::test {
namespace {

class LumoRegTest : public RegistryTest {
 protected:
  ProcessResult reg(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), buildPath("lumo-reg"));
    return runProgram(arguments, childEnvironment());
  }
};

// Hangs a chain of `depth` nested keys below the existing key `path` of
// HKEY_LOCAL_MACHINE, written straight into the store (far quicker than
// creating them one by one, and deeper than the store lets anyone create).
void hangChain(const std::string& path, int depth) {
  RegistryResult<RegistryKey> below = createKey(RegistryRoot::LocalMachine, path);
  ASSERT_TRUE(below) << below.why();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(registryStorePath(RegistryRoot::LocalMachine).c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 10000);
  sqlite3_int64 parent = 1;
  std::size_t start = 0;
  for (std::size_t end; start != std::string::npos; start = end == std::string::npos ? end : end + 1) {
    end = path.find('\\', start);
    std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    sqlite3_stmt* find = nullptr;
    sqlite3_prepare_v2(db, "SELECT id FROM keys WHERE parent=?1 AND name=?2", -1, &find, nullptr);
    sqlite3_bind_int64(find, 1, parent);
    sqlite3_bind_text(find, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    ASSERT_EQ(sqlite3_step(find), SQLITE_ROW) << name;
    parent = sqlite3_column_int64(find, 0);
    sqlite3_finalize(find);
  }
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO keys(parent, name, folded) VALUES(?1, 'k', 'K')", -1, &insert, nullptr);
  for (int level = 0; level < depth; ++level) {
    sqlite3_bind_int64(insert, 1, parent);
    ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_reset(insert);
    parent = sqlite3_last_insert_rowid(db);
  }
  sqlite3_finalize(insert);
  ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

TEST_F(LumoRegTest, AddQueryAndDeleteRoundTrip) {
  EXPECT_EQ(reg({"add", "HKCU\\Software\\Vexta\\Sub", "Name", "Vexta影音"}).exitCode, 0);
  EXPECT_EQ(reg({"add", "HKEY_CURRENT_USER\\Software\\vexta", "n", "--dword", "0x64"}).exitCode, 0);
  EXPECT_EQ(reg({"add", "hkcu\\Software\\Vexta", "", "default"}).exitCode, 0);
  EXPECT_EQ(reg({"add", "HKCR\\.lumo"}).exitCode, 0);

  // What the tool writes, the store reads.
  EXPECT_EQ(valueText(*readValue(RegistryRoot::CurrentUser, "Software\\Vexta\\Sub", "name")), "Vexta影音");
  EXPECT_EQ(readDword(RegistryRoot::CurrentUser, "Software\\Vexta", "N"), 100u);
  EXPECT_TRUE(keyExists(RegistryRoot::ClassesRoot, ".LUMO"));

  ProcessResult listing = reg({"query", "HKCU\\Software\\Vexta"});
  EXPECT_EQ(listing.exitCode, 0);
  EXPECT_EQ(listing.out,
            "HKEY_CURRENT_USER\\Software\\Vexta\n"
            "    (Default)    REG_SZ    default\n"
            "    n    REG_DWORD    0x64\n"
            "\n"
            "HKEY_CURRENT_USER\\Software\\Vexta\\Sub\n");
  ProcessResult one = reg({"query", "HKEY_CURRENT_USER\\Software\\Vexta\\Sub", "NAME"});
  EXPECT_EQ(one.exitCode, 0);
  EXPECT_EQ(one.out, "HKEY_CURRENT_USER\\Software\\Vexta\\Sub\n    NAME    REG_SZ    Vexta影音\n");

  EXPECT_EQ(reg({"delete", "HKCU\\Software\\Vexta", "n"}).exitCode, 0);
  EXPECT_FALSE(readValue(RegistryRoot::CurrentUser, "Software\\Vexta", "n").has_value());
  EXPECT_EQ(reg({"delete", "HKCU\\Software\\Vexta"}).exitCode, 0);
  EXPECT_FALSE(keyExists(RegistryRoot::CurrentUser, "Software\\Vexta"));
  EXPECT_TRUE(keyExists(RegistryRoot::CurrentUser, "Software"));
}

TEST_F(LumoRegTest, ErrorsSayWhatFailedAndExitWithTheirStatus) {
  writeString(RegistryRoot::CurrentUser, "Software\\A", "v", "1");
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {{}, 2, "an operation and a KEY are needed"},
      {{"query", "HKXX\\Software"}, 2, "unknown root key in \"HKXX\\Software\""},
      {{"rename", "HKCU\\Software"}, 2, "unknown operation \"rename\""},
      {{"add", "HKCU\\Software\\A", "v", "--dword", "-1"}, 2, "--dword needs a number"},
      {{"add", "HKCU\\Software\\A", "v", "data", "--dword", "1"}, 2, "--dword needs a VALUE name and no DATA"},
      {{"delete", "HKCU"}, 2, "a root key can not be deleted"},
      {{"add", "HKCU\\Software\\\\B"}, 2, "invalid key name"},
      {{"query", "HKCU\\Software\\Missing"}, 1, "key HKEY_CURRENT_USER\\Software\\Missing not found"},
      {{"query", "HKCU\\Software\\A", "w"}, 1, "value \"w\" of HKEY_CURRENT_USER\\Software\\A not found"},
      {{"delete", "HKCU\\Software\\A", "w"}, 1, "not found"},
      {{"delete", "HKLM\\Software\\A"}, 1, "not found"},
  };
  for (const Case& c : cases) {
    ProcessResult result = reg(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
}

TEST_F(LumoRegTest, ADamagedStoreIsReportedAndKeptAsItIs) {
  const std::string path = registryStorePath(RegistryRoot::LocalMachine);
  writeFile(path, "garbage, not a store");
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"query", "HKLM\\Software"}, {"add", "HKLM\\Software", "v", "x"}, {"delete", "HKLM\\Software"}}) {
    ProcessResult result = reg(arguments);
    EXPECT_EQ(result.exitCode, 3) << arguments[0];
    EXPECT_NE(result.err.find(path), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("damaged or is not a registry store"), std::string::npos) << result.err;
  }
  EXPECT_EQ(readFile(path), "garbage, not a store");
}

// Keys go 512 levels deep, as on Windows; deleting a deeper chain that some
// other program wrote must not run out of stack, in the script or the tool.
TEST_F(LumoRegTest, KeysStopAt512LevelsAndAnyChainDeletes) {
  std::string deepest = "Software";
  for (int level = 1; level < 512; ++level) deepest += "\\k";
  RegistryResult<RegistryKey> key = createKey(RegistryRoot::LocalMachine, deepest);
  ASSERT_TRUE(key) << key.why();
  RegistryResult<RegistryKey> deeper = createKey(*key, "one-more");
  EXPECT_EQ(failed(deeper), RegistryStatus::InvalidParameter);
  EXPECT_NE(deeper.why().find("deeper than 512 levels"), std::string::npos) << deeper.why();
  ProcessResult refused = reg({"add", "HKLM\\" + deepest + "\\one-more"});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.err.find("deeper than 512 levels"), std::string::npos) << refused.err;

  hangChain("Software\\Script", 100000);
  hangChain("Software\\Tool", 100000);
  runCommand("DeleteReg", "HKEY_LOCAL_MACHINE|Software\\Script");
  ProcessResult deleted = reg({"delete", "HKLM\\Software\\Tool"});
  EXPECT_EQ(deleted.exitCode, 0) << deleted.err;
  EXPECT_FALSE(keyExists(RegistryRoot::LocalMachine, "Software\\Script"));
  EXPECT_FALSE(keyExists(RegistryRoot::LocalMachine, "Software\\Tool"));
  EXPECT_TRUE(keyExists(RegistryRoot::LocalMachine, "Software\\k"));
}

// Two copies of the tool adding values at the same time: every value lands.
TEST_F(LumoRegTest, ConcurrentWritersLoseNothing) {
  constexpr int kWrites = 40;
  const std::string tool = buildPath("lumo-reg");
  std::string script;
  for (const char* writer : {"a", "b"}) {
    script += "(i=0; while [ $i -lt " + std::to_string(kWrites) + " ]; do \"" + tool +
              "\" add 'HKLM\\Software\\Race' " + writer + "$i $i || exit 1; i=$((i+1)); done) & " + writer +
              "=$!; ";
  }
  script += "wait $a && wait $b";
  ProcessResult result = runProgram({"/bin/bash", "-c", script}, childEnvironment());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  for (const char* writer : {"a", "b"}) {
    for (int i = 0; i < kWrites; ++i) {
      auto value = readValue(RegistryRoot::LocalMachine, "Software\\Race", writer + std::to_string(i));
      ASSERT_TRUE(value.has_value()) << writer << i;
      EXPECT_EQ(valueText(*value), std::to_string(i));
    }
  }
}

}  // namespace
}  // namespace lumo::test
