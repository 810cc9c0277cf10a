#include "registry_fixture.h"
#include "script/script_engine.h"

namespace lumo::test {
namespace {

class RegistryCommandsTest : public RegistryTest {
 protected:
  void SetUp() override { useWorkingScript(temp / "install.ini", "[var]\nv=unchanged\n"); }

  static void setDwordValue(RegistryRoot root, const std::string& path, const std::string& name, std::uint32_t n) {
    RegistryKey key;
    ASSERT_EQ(createKey(root, path, key), RegistryStatus::Ok);
    ASSERT_EQ(setDword(key, name, n), RegistryStatus::Ok);
  }
};

TEST_F(RegistryCommandsTest, ReadRegStoresWhatTheZeroFilledBufferHolds) {
  const std::string longAscii(300, 'a');
  const std::string exactAscii(259, 'b');
  std::string longWide;
  for (int i = 0; i < 100; ++i) longWide += "影";  // 300 bytes, 3 per character

  writeString(RegistryRoot::LocalMachine, "Software\\A", "", "default text");
  writeString(RegistryRoot::LocalMachine, "Software\\A", "HDir", "/opt/Vexta");
  writeString(RegistryRoot::LocalMachine, "Software\\A", "long", longAscii);
  writeString(RegistryRoot::LocalMachine, "Software\\A", "exact", exactAscii);
  writeString(RegistryRoot::LocalMachine, "Software\\A", "wide", longWide);
  writeString(RegistryRoot::CurrentUser, "Software\\A", "", "user default");
  setDwordValue(RegistryRoot::LocalMachine, "Software\\A", "zero", 0);
  setDwordValue(RegistryRoot::LocalMachine, "Software\\A", "one", 1);

  struct Case {
    const char* arguments;
    std::string expected;
  };
  const Case cases[] = {
      {"HKEY_LOCAL_MACHINE|Software\\A|HDir->v", "/opt/Vexta"},
      {"HKEY_LOCAL_MACHINE|software\\a|hdir->v", "/opt/Vexta"},
      {"HKEY_LOCAL_MACHINE|Software\\Missing|HDir->v", "unchanged"},
      {"HKEY_LOCAL_MACHINE|Software\\A|missing->v", ""},
      {"HKEY_LOCAL_MACHINE|Software\\A|->v", "default text"},
      {"HKEY_CURRENT_USER|Software\\A|->v", "user default"},
      // Every root name but the two exact ones means HKEY_LOCAL_MACHINE.
      {"HKCU|Software\\A|->v", "default text"},
      {"hkey_current_user|Software\\A|->v", "default text"},
      {"|Software\\A|->v", "default text"},
      {"HKEY_CLASSES_ROOT|Software\\A|->v", "unchanged"},
      // Non-string values read as raw bytes up to the first zero.
      {"HKEY_LOCAL_MACHINE|Software\\A|zero->v", ""},
      {"HKEY_LOCAL_MACHINE|Software\\A|one->v", "\x01"},
      // At most 259 bytes, and never half a character.
      {"HKEY_LOCAL_MACHINE|Software\\A|long->v", std::string(259, 'a')},
      {"HKEY_LOCAL_MACHINE|Software\\A|exact->v", exactAscii},
      {"HKEY_LOCAL_MACHINE|Software\\A|wide->v", longWide.substr(0, 258)},
  };
  for (const Case& c : cases) {
    SetVariable("v", "unchanged");
    runCommand("ReadReg", c.arguments);
    EXPECT_EQ(GetVariable("v"), c.expected) << c.arguments;
  }
}

TEST_F(RegistryCommandsTest, MalformedLinesThrowBeforeTouchingTheStore) {
  struct Case {
    const char* verb;
    const char* arguments;
    const char* message;
  };
  const Case cases[] = {
      {"ReadReg", "HKEY_CURRENT_USER|Software\\A|B",
       "[ReadReg] Invalid arguments (Missing operator '->' ): HKEY_CURRENT_USER|Software\\A|B"},
      {"ReadReg", "HKEY_CURRENT_USER|Software\\A->v", "[ReadReg] Invalid arguments (nArg!=3):v"},
      {"ReadReg", "HKEY_CURRENT_USER|Software\\A|x|y->v", "[ReadReg] Invalid arguments (nArg!=3):v"},
      {"WriteReg", "HKEY_CURRENT_USER|Software\\A|x",
       "[WriteReg] Invalid arguments (nArg!=4): HKEY_CURRENT_USER|Software\\A|x"},
      {"WriteReg", "HKEY_CURRENT_USER|Software\\A|x|a|b",
       "[WriteReg] Invalid arguments (nArg!=4): HKEY_CURRENT_USER|Software\\A|x|a|b"},
      {"DeleteReg", "HKEY_CURRENT_USER", "[DeleteReg] Invalid arguments (nArg!=2): HKEY_CURRENT_USER"},
      {"DeleteRegValue", "HKEY_CURRENT_USER|Software\\A",
       "[DeleteRegValue] Invalid arguments (nArg!=3): HKEY_CURRENT_USER|Software\\A"},
  };
  for (const Case& c : cases) EXPECT_EQ(commandError(c.verb, c.arguments), c.message);
  EXPECT_EQ(GetVariable("v"), "unchanged");
  EXPECT_FALSE(pathExists(registryStorePath(RegistryRoot::CurrentUser)));
}

TEST_F(RegistryCommandsTest, WriteRegCreatesMissingKeysAndWritesStrings) {
  runCommand("WriteReg", "HKEY_CURRENT_USER|Software\\A\\B\\D||");
  auto value = readValue(RegistryRoot::CurrentUser, "Software\\A\\B\\D", "");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, RegistryType::String);
  EXPECT_EQ(value->bytes, std::string(1, '\0'));

  runCommand("WriteReg", "HKCU|Software\\Uninstall\\Vexta|DisplayName|Vexta影音");
  EXPECT_EQ(valueText(*readValue(RegistryRoot::LocalMachine, "Software\\Uninstall\\Vexta", "DisplayName")),
            "Vexta影音");
  // Overwrites, whatever the old type.
  setDwordValue(RegistryRoot::CurrentUser, "Software\\A", "n", 7);
  runCommand("WriteReg", "HKEY_CURRENT_USER|Software\\A|N|8");
  EXPECT_EQ(valueText(*readValue(RegistryRoot::CurrentUser, "Software\\A", "n")), "8");
  // A path the store can not hold is dropped silently.
  runCommand("WriteReg", "HKEY_CURRENT_USER|Software\\\\Bad|x|y");
  EXPECT_FALSE(keyExists(RegistryRoot::CurrentUser, "Software\\Bad"));
}

TEST_F(RegistryCommandsTest, DeleteRegRemovesTheWholeTreeButNeverTheRoot) {
  for (const char* path : {"Software\\P\\A\\B\\C", "Software\\P\\A\\B2", "Software\\P\\Z"})
    writeString(RegistryRoot::LocalMachine, path, "v", "1");
  writeString(RegistryRoot::LocalMachine, "Software\\Keep", "v", "1");

  runCommand("DeleteReg", "HKEY_LOCAL_MACHINE|");
  EXPECT_TRUE(keyExists(RegistryRoot::LocalMachine, "Software\\P\\A\\B\\C"));

  runCommand("DeleteReg", "HKLM|software\\p");
  EXPECT_FALSE(keyExists(RegistryRoot::LocalMachine, "Software\\P"));
  EXPECT_TRUE(keyExists(RegistryRoot::LocalMachine, "Software\\Keep"));
  runCommand("DeleteReg", "HKEY_LOCAL_MACHINE|Software\\P");  // already gone: nothing happens
}

TEST_F(RegistryCommandsTest, DeleteRegStopsAtTheFirstSubkeyItCanNotDelete) {
  // A subkey name of 260 units does not fit the delete's name buffer; one of
  // 259 does.
  const std::string fits(259, 'f');
  const std::string tooLong(260, 'x');
  writeString(RegistryRoot::LocalMachine, "Software\\P\\A\\" + fits, "v", "1");
  writeString(RegistryRoot::LocalMachine, "Software\\P\\B\\" + tooLong, "v", "1");
  writeString(RegistryRoot::LocalMachine, "Software\\P\\C", "v", "1");

  runCommand("DeleteReg", "HKEY_LOCAL_MACHINE|Software\\P");
  EXPECT_FALSE(keyExists(RegistryRoot::LocalMachine, "Software\\P\\A"));
  EXPECT_TRUE(keyExists(RegistryRoot::LocalMachine, "Software\\P\\B\\" + tooLong));
  // The failure stops the whole delete: C, after B, stays too.
  EXPECT_TRUE(keyExists(RegistryRoot::LocalMachine, "Software\\P\\C"));
}

TEST_F(RegistryCommandsTest, DeleteRegValueRemovesOneNamedValue) {
  writeString(RegistryRoot::CurrentUser, "Software\\Run", "", "default");
  writeString(RegistryRoot::CurrentUser, "Software\\Run", "Vexta", "/opt/Vexta/LumoClient");
  writeString(RegistryRoot::CurrentUser, "Software\\Run", "Other", "x");

  runCommand("DeleteRegValue", "HKEY_CURRENT_USER|Software\\Run|");
  runCommand("DeleteRegValue", "HKEY_CURRENT_USER||Vexta");
  runCommand("DeleteRegValue", "HKCU|Software\\Run|Vexta");  // HKEY_LOCAL_MACHINE: not there
  EXPECT_TRUE(readValue(RegistryRoot::CurrentUser, "Software\\Run", "").has_value());
  EXPECT_TRUE(readValue(RegistryRoot::CurrentUser, "Software\\Run", "Vexta").has_value());

  runCommand("DeleteRegValue", "HKEY_CURRENT_USER|software\\run|VEXTA");
  EXPECT_FALSE(readValue(RegistryRoot::CurrentUser, "Software\\Run", "Vexta").has_value());
  EXPECT_TRUE(readValue(RegistryRoot::CurrentUser, "Software\\Run", "Other").has_value());
}

TEST_F(RegistryCommandsTest, AnUnusableStoreLeavesTheScriptGoingAndTheFileAlone) {
  const std::string path = registryStorePath(RegistryRoot::LocalMachine);
  writeFile(path, "damaged");
  EXPECT_NO_THROW(runCommand("WriteReg", "HKEY_LOCAL_MACHINE|Software\\A|x|1"));
  EXPECT_NO_THROW(runCommand("ReadReg", "HKEY_LOCAL_MACHINE|Software\\A|x->v"));
  EXPECT_NO_THROW(runCommand("DeleteRegValue", "HKEY_LOCAL_MACHINE|Software\\A|x"));
  EXPECT_NO_THROW(runCommand("DeleteReg", "HKEY_LOCAL_MACHINE|Software\\A"));
  EXPECT_EQ(GetVariable("v"), "unchanged");
  EXPECT_EQ(readFile(path), "damaged");
}

}  // namespace
}  // namespace lumo::test
