#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "registry_fixture.h"
#include "script/script_engine.h"

namespace lumo::test {
namespace {

const std::string kUninstallKey =
    "HKEY_LOCAL_MACHINE|Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexta影音";

// Runs `body` in a child process that sees an empty tmpfs of `size` at
// `folder`, in a mount namespace of its own, so nothing outside the child
// ever sees it. Gives what `body` returned (empty: all went well), or
// nothing when no such file system can be mounted here (not root, no
// namespaces): the caller skips.
std::optional<std::string> inSmallFileSystem(const std::string& folder, const char* size,
                                             const std::function<std::string()>& body) {
  std::filesystem::create_directories(folder);
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return "no pipe";
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe[0]);
    bool mounted = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                   ::mount("lumo-test", folder.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
    std::string result = mounted ? body() : std::string("\x01");
    ssize_t written = ::write(pipe[1], result.data(), result.size());
    ::_exit(written == static_cast<ssize_t>(result.size()) ? 0 : 1);
  }
  ::close(pipe[1]);
  std::string result;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;) result.append(buffer, static_cast<std::size_t>(n));
  ::close(pipe[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the child process crashed: " + result;
  if (result == "\x01") return std::nullopt;
  return result;
}

// Writes into `path` until the file system takes no more.
void fill(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const std::string block(4096, 'f');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  ::close(fd);
}

class RegistryCommandsTest : public RegistryTest {
 protected:
  void SetUp() override { useWorkingScript(temp / "install.ini", "[var]\nv=unchanged\n"); }

  static void setDwordValue(RegistryRoot root, const std::string& path, const std::string& name, std::uint32_t n) {
    RegistryResult<RegistryKey> key = createKey(root, path);
    ASSERT_TRUE(key) << key.why();
    RegistryResult<> written = setDword(*key, name, n);
    ASSERT_TRUE(written) << written.why();
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

// WriteReg stops the section when its value can not reach the store; the
// deletes, which run in the rollback and the uninstallation, report and go
// on. Reads stay silent. The file is never touched.
TEST_F(RegistryCommandsTest, AWriteThatCanNotReachADamagedStoreThrowsAndTheStoreIsLeftAlone) {
  const std::string path = registryStorePath(RegistryRoot::LocalMachine);
  writeFile(path, "damaged");
  const std::string& uninstallKey = kUninstallKey;

  std::string error = commandError("WriteReg", uninstallKey + "|DisplayName|Vexta影音");
  EXPECT_TRUE(error.starts_with("[WriteReg] registry store " + path)) << error;
  EXPECT_NE(error.find("damaged or is not a registry store"), std::string::npos) << error;

  testing::internal::CaptureStderr();
  EXPECT_NO_THROW(runCommand("DeleteRegValue", uninstallKey + "|DisplayName"));
  EXPECT_NO_THROW(runCommand("DeleteReg", uninstallKey));
  const std::string reported = testing::internal::GetCapturedStderr();
  EXPECT_NE(reported.find("[DeleteRegValue] registry store " + path), std::string::npos) << reported;
  EXPECT_NE(reported.find("[DeleteReg] registry store " + path), std::string::npos) << reported;

  EXPECT_NO_THROW(runCommand("ReadReg", uninstallKey + "|DisplayName->v"));
  EXPECT_EQ(GetVariable("v"), "unchanged");
  EXPECT_EQ(readFile(path), "damaged");
}

// A full /var: the uninstall entry can not be written, and the installation
// must hear of it instead of ending without one. No empty store is left
// behind, and a store that already held values keeps them.
TEST_F(RegistryCommandsTest, AFullDiskStopsWriteRegAndKeepsTheStoreSound) {
  const std::string path = registryStorePath(RegistryRoot::LocalMachine);
  const std::string folder = std::filesystem::path(path).parent_path();
  auto problems = inSmallFileSystem(folder, "256k", [&] {
    std::string found;
    auto expectFull = [&](const std::string& error) {
      if (!error.starts_with("[WriteReg] registry store " + path) ||
          error.find("database or disk is full") == std::string::npos)
        found += "unexpected error: " + error + "\n";
    };
    fill(folder + "/filler");
    expectFull(commandError("WriteReg", kUninstallKey + "|DisplayName|Vexta影音"));
    if (pathExists(path)) found += "a store was left on the full disk\n";

    std::filesystem::remove(folder + "/filler");
    runCommand("WriteReg", kUninstallKey + "|DisplayName|Vexta影音");
    fill(folder + "/filler");
    expectFull(commandError("WriteReg", kUninstallKey + "|Comments|" + std::string(100000, 'u')));
    auto kept = readValue(RegistryRoot::LocalMachine,
                          "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexta影音", "DisplayName");
    if (!kept || valueText(*kept) != "Vexta影音") found += "the earlier value was lost\n";
    return found;
  });
  if (!problems) GTEST_SKIP() << "no small file system can be mounted here";
  EXPECT_EQ(*problems, "");
}

TEST_F(RegistryCommandsTest, AnUninstallEntryNamesOnlyAWholeUninstaller) {
  namespace fs = std::filesystem;
  const std::string sound = temp / "Lumo Installer/LumoInstaller";
  fs::create_directories(temp / "Lumo Installer");
  fs::copy_file(buildPath("LumoInstaller"), sound);
  const std::string cut = temp / "cut";
  fs::copy_file(sound, cut);
  fs::resize_file(cut, fs::file_size(cut) - 100);
  const std::string flipped = temp / "flipped";
  std::string bytes = readFile(sound);
  bytes[bytes.size() / 4] ^= 0x01;
  writeFile(flipped, bytes);
  struct Case {
    const char* name;
    std::string command;
    bool written;
  };
  const Case cases[] = {
      {"whole, in a folder with a space", sound + " -uinst", true},
      {"whole, quoted", "\"" + sound + "\" -uinst", true},
      {"missing", temp / "gone -uinst", false},
      {"cut short", cut + " -uinst", false},
      {"a byte changed", flipped + " -uinst", false},
  };
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexta影音";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    runCommand("DeleteReg", "HKEY_LOCAL_MACHINE|" + key);
    std::string error = commandError("WriteReg", kUninstallKey + "|UninstallString|" + c.command);
    EXPECT_EQ(readValue(RegistryRoot::LocalMachine, key, "UninstallString").has_value(), c.written) << error;
    if (!c.written) {
      EXPECT_NE(error.find("is not whole"), std::string::npos) << error;
    }
  }
}

TEST_F(RegistryCommandsTest, ARollbackThatCannotRemoveTheUninstallEntrySaysSo) {
  const std::string path = registryStorePath(RegistryRoot::LocalMachine);
  const std::string folder = std::filesystem::path(path).parent_path();
  const std::string said = temp / "stderr";
  auto problems = inSmallFileSystem(folder, "256k", [&] {
    writeFile(temp / "uninstaller", "#!/bin/sh\n");
    runCommand("WriteReg", kUninstallKey + "|UninstallString|" + (temp / "uninstaller") + " -uinst");
    fill(folder + "/filler");
    int saved = ::dup(2);
    int file = ::open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ::dup2(file, 2);
    runCommand("DeleteReg", kUninstallKey);
    ::dup2(saved, 2);
    ::close(file);
    ::close(saved);
    return std::string();
  });
  if (!problems) GTEST_SKIP() << "no small file system can be mounted here";
  EXPECT_EQ(*problems, "");
  std::string text = readFile(said);
  if (text.empty()) GTEST_SKIP() << "the full disk did not stop the delete here";
  EXPECT_NE(text.find("could not be removed and still runs \"" + (temp / "uninstaller") + " -uinst\""),
            std::string::npos)
      << text;
}

}  // namespace
}  // namespace lumo::test
