// Whole runs against records, folders and scripts that would make the
// installer write or delete outside the product: each ends refused, or
// with the product alone touched, and says why.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/exit_status.h"
#include "e2e/sandbox.h"
#include "platform/text.h"

namespace lumo::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTarnKey = "HKEY_LOCAL_MACHINE\\Software\\LuMo\\Tarn";

ProcessResult installSilently(const Sandbox& box) { return box.run(box.installer(), {"/s"}); }
ProcessResult uninstallSilently(const Sandbox& box) { return box.run(box.installer(), {"-uinst", "/s"}); }

std::string installLog(const Sandbox& box) {
  return gbkToUtf8(readFile(box.kernel() + "/LumoClient/LumoInstaller.log"));
}

// A folder that looks like an installation of the player, with something
// of the user's beside it.
void plantInstallation(const std::string& folder) {
  writeFile(folder + "/LumoClient.exe", "player");
  writeFile(folder + "/precious.txt", "keep me");
}

// Records of an earlier installation that no run may remove or install
// into: the hierarchy's standard folders, which uninstalling refuses, and
// folders the script cannot carry unchanged, which are never stored (the
// uninstaller then finds no installation).
struct UnfitRecordCase {
  const char* folder;
  int uninstallStatus;
};

void PrintTo(const UnfitRecordCase& c, std::ostream* out) { *out << c.folder; }

constexpr const char* kIgnored = "The recorded installation folder is ignored";

const UnfitRecordCase kUnfitRecords[] = {
    {"var", 6},  {"var/lib", 6}, {"usr/lib", 6},         {"srv", 6},
    {"boot", 6}, {"home", 6},    {"mnt", 6},             {"media", 6},
    {"srv@x/Vexta", kExitNotInstalled},     {"opt/a$b#c|d->e/Vexta", kExitNotInstalled},
    {"opt/søren/Vexta", kExitNotInstalled}, {"opt/\xb0\xff/Vexta", kExitNotInstalled},
};

class UnfitRecord : public ::testing::TestWithParam<UnfitRecordCase> {};

TEST_P(UnfitRecord, IsNeitherRemovedByAnInstallationNorUninstalled) {
  Sandbox box;
  const std::string folder = box.sys() + "/" + GetParam().folder;
  plantInstallation(folder);
  ASSERT_EQ(box.reg({"add", kTarnKey, "HDir", folder}).exitCode, 0);

  ProcessResult uninstall = uninstallSilently(box);
  EXPECT_EQ(uninstall.exitCode, GetParam().uninstallStatus) << uninstall.err;
  EXPECT_NE(uninstall.err.find(kIgnored), std::string::npos) << uninstall.err;
  EXPECT_EQ(readFile(folder + "/precious.txt"), "keep me");

  ProcessResult install = installSilently(box);
  ASSERT_EQ(install.exitCode, 0) << install.err;
  EXPECT_NE(install.err.find(kIgnored), std::string::npos) << install.err;
  EXPECT_NE(installLog(box).find(kIgnored), std::string::npos);
  EXPECT_EQ(readFile(folder + "/precious.txt"), "keep me");
  EXPECT_TRUE(pathExists(folder + "/LumoClient.exe"));
  EXPECT_TRUE(pathExists(box.installDir() + "/LumoClient.exe"));
}

INSTANTIATE_TEST_SUITE_P(Folders, UnfitRecord, ::testing::ValuesIn(kUnfitRecords),
                         [](const ::testing::TestParamInfo<UnfitRecordCase>& info) {
                           return std::to_string(info.index);
                         });

TEST(HostileRecords, ALineBreakInARecordNeverBecomesScript) {
  Sandbox box;
  const std::string victim = box.root() + "/victim.txt";
  writeFile(victim, "keep me");
  ASSERT_EQ(box.reg({"add", kTarnKey, "HDir", "x\r\n[uninstall]\r\n#Delete " + victim}).exitCode, 0);
  // The record is never stored: uninstalling finds no installation,
  // installing goes to the default folder, both say why, and neither runs
  // the forged section.
  const std::pair<ProcessResult, int> runs[] = {{uninstallSilently(box), kExitNotInstalled},
                                                {installSilently(box), kExitOk}};
  for (const auto& [run, status] : runs) {
    EXPECT_EQ(run.exitCode, status) << run.err;
    EXPECT_NE(run.err.find(kIgnored), std::string::npos) << run.err;
    EXPECT_TRUE(pathExists(victim));
  }
  EXPECT_TRUE(pathExists(box.installDir() + "/LumoClient.exe"));
}

TEST(HostileRecords, AHomeWithAnAtSignKeepsItsName) {
  Sandbox box;
  const std::string home = box.root() + "/users/john@corp.example";
  fs::create_directories(home);
  writeFile(box.root() + "/users/john/precious.txt", "keep me");
  std::map<std::string, std::string> env = box.environment();
  env["HOME"] = home;

  ProcessResult install = runProgram({box.installer(), "/s"}, env, box.root());
  ASSERT_EQ(install.exitCode, 0) << install.err;
  // A machine-wide run keeps its uninstaller in the machine-wide folder.
  const std::string uninstaller = box.uninstaller();
  ASSERT_TRUE(pathExists(uninstaller));
  ProcessResult uninstall = runProgram({uninstaller, "-uinst", "/s"}, env, box.root());
  EXPECT_EQ(uninstall.exitCode, 0) << uninstall.err;
  EXPECT_FALSE(pathExists(box.installDir()));
  EXPECT_TRUE(pathExists(home));
  EXPECT_EQ(readFile(box.root() + "/users/john/precious.txt"), "keep me");
}

TEST(HostileRecords, ARunThatEndsWithoutCompletingSaysWhy) {
  Sandbox box;
  std::vector<std::string> lines = defaultScriptLines();
  for (const ScriptLine& line : commandLines(lines, "[install]")) {
    if (line.text.starts_with("#NotifyOK")) lines[line.lineIndex] = ";";
  }
  writeFile(box.dist() + "/install.ini", toScriptBytes(lines));
  ProcessResult run = installSilently(box);
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_NE(run.err.find("The run ends with status 3: the sections ended without completing"), std::string::npos)
      << run.err;
  EXPECT_NE(gbkToUtf8(readFile(box.dist() + "/LumoInstaller.log")).find("The run ends with status 3"),
            std::string::npos);
}

TEST(HostileRecords, AnUninstallationThatLeavesTheProductBehindFailsAndSaysWhy) {
  Sandbox box;
  ASSERT_EQ(installSilently(box).exitCode, 0);
  // The uninstaller's script keeps the folder and fails a line instead.
  const std::string script = box.appData() + "/Lumo/Installer/install.ini";
  std::string text = gbkToUtf8(readFile(script));
  ASSERT_NE(text.find("#RMDir  $INSTALL"), std::string::npos);
  text = replaceAll(text, "#RMDir  $INSTALL", "#Move $INSTALL\\no-such-file|$INSTALL\\elsewhere");
  writeFile(script, utf8ToGbk(text));

  ProcessResult run = box.run(box.uninstaller(), {"-uinst", "/s"});
  EXPECT_EQ(run.exitCode, 6);
  EXPECT_NE(run.err.find("[Move] Source file or path not found"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("left the product behind in " + box.installDir()), std::string::npos) << run.err;
  EXPECT_TRUE(pathExists(box.installDir() + "/LumoClient.exe"));
}

}  // namespace
}  // namespace lumo::test
