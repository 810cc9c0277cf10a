// Whole runs of the default installer in sandboxes: install, reinstall,
// uninstall with the copied installer, and a second installer that starts
// while the first one runs.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "app/exit_status.h"
#include "app/installation_record.h"
#include "app/startup.h"
#include "e2e/sandbox.h"
#include "platform/text.h"
#include "script/dispatcher.h"
#include "script/install_recorder.h"
#include "script/run_environment.h"
#include "script/script_engine.h"

namespace lumo::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUninstallKey =
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vexta影音";
const char* const kComponents[] = {"LumoCodec.dll", "LumoRender.dll", "LumoNet.dll", "LumoShell.dll"};

std::string variableOf(const std::string& scriptPath, const std::string& name) {
  std::string text = gbkToUtf8(readFile(scriptPath));
  std::string key = "\n" + name + "=";
  std::size_t at = text.find(key);
  if (at == std::string::npos) return "";
  std::size_t end = text.find_first_of("\r\n", at + key.size());
  return text.substr(at + key.size(), end - at - key.size());
}

void expectValidDesktopFile(const std::string& path) {
  ASSERT_TRUE(pathExists(path)) << path;
  ProcessResult check = runProgram({"/usr/bin/desktop-file-validate", path});
  EXPECT_EQ(check.exitCode, 0) << path << "\n" << check.out << check.err;
}

TEST(Installer, SilentInstallPutsFilesRegistryShortcutsAndUninstallerInPlace) {
  Sandbox box;
  ProcessResult run = installSilently(box);
  ASSERT_EQ(run.exitCode, 0) << run.err;

  const std::string dir = box.installDir();
  for (const char* file : {"LumoClient.exe", "LumoArea.exe", "LumoUpdate.exe", "server.ini", "Vexta.png"})
    EXPECT_TRUE(pathExists(dir + "/" + file)) << file;
  for (const char* component : kComponents) EXPECT_TRUE(pathExists(dir + "/" + component)) << component;
  // Kernel files moved to the shared data folder; the auxiliary program ran.
  EXPECT_FALSE(pathExists(dir + "/kernel"));
  EXPECT_TRUE(pathExists(box.kernel() + "/LumoKernel/LumoKernel.dat"));
  EXPECT_TRUE(pathExists(box.kernel() + "/LumoClient/area.ini"));
  // Configuration files written by the script.
  EXPECT_NE(readFile(dir + "/config/player.ini").find("InstallDir=" + dir), std::string::npos);
  EXPECT_NE(readFile(dir + "/config/skin.xml").find("<version>1.4.136.6</version>"), std::string::npos);

  EXPECT_EQ(box.regValue(kTarnKey, "HDir"), dir);
  EXPECT_EQ(box.regValue(kUninstallKey, "UninstallString"), box.uninstaller() + " -uinst");
  EXPECT_EQ(box.regValue(kUninstallKey, "DisplayVersion"), "1.4.136.6");
  EXPECT_EQ(box.regValue("HKEY_CLASSES_ROOT\\.zmv", ""), "Vexta.zmv");
  EXPECT_EQ(box.regValue("HKEY_CLASSES_ROOT\\CLSID\\{6A1D3E10-4C2B-4F5A-9E01-3B7C2D8E4F01}\\InprocServer32", ""),
            dir + "/LumoCodec.dll");

  expectValidDesktopFile(box.menu() + "/Vexta影音.desktop");
  expectValidDesktopFile(box.menu() + "/卸载Vexta影音.desktop");
  EXPECT_NE(readFile(box.menu() + "/卸载Vexta影音.desktop").find("-uinst"), std::string::npos);

  struct stat info{};
  ASSERT_EQ(::stat(box.uninstaller().c_str(), &info), 0);
  EXPECT_TRUE(info.st_mode & S_IXUSR);
  EXPECT_EQ(variableOf(box.appData() + "/Lumo/Installer/install.ini", "app_version"), "1.4.136.6");

  std::string log = readFile(box.kernel() + "/LumoClient/LumoInstaller.log");
  EXPECT_NE(log.find("\r\r\nLumoShellParser::ExecInstallOK  -----------------------------\r\r\n"), std::string::npos);
  EXPECT_NE(log.find("Out " + dir + "\r\r\n"), std::string::npos);
}

TEST(Installer, ReinstallIntoTheSameFolderReplacesTheInstallation) {
  Sandbox box;
  ASSERT_EQ(installSilently(box).exitCode, 0);
  fs::remove(box.installDir() + "/LumoClient.exe");
  ProcessResult again = installSilently(box);
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(variableOf(box.appData() + "/Lumo/Installer/install.ini", "replacesetup"), "1");
  EXPECT_TRUE(pathExists(box.installDir() + "/LumoClient.exe"));
  EXPECT_EQ(box.regValue(kTarnKey, "HDir"), box.installDir());
}

TEST(Installer, AnEarlierFolderNotNamedLikeTheProductIsLeftAlone) {
  Sandbox box;
  ASSERT_EQ(installSilently(box).exitCode, 0);
  // An earlier installation in a folder that is no product folder (not
  // named "Vexta"): the new one goes to the default folder, and the old one
  // is not the installer's to remove.
  const std::string old = box.sys() + "/srv/OldPlayer";
  fs::create_directories(box.sys() + "/srv");
  fs::rename(box.installDir(), old);
  ASSERT_EQ(box.reg({"add", kTarnKey, "HDir", old}).exitCode, 0);

  ProcessResult again = installSilently(box);
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(variableOf(box.appData() + "/Lumo/Installer/install.ini", "replacesetup"), "0");
  EXPECT_TRUE(pathExists(old + "/LumoClient.exe"));
  EXPECT_TRUE(pathExists(box.installDir() + "/LumoClient.exe"));
  EXPECT_EQ(box.regValue(kTarnKey, "HDir"), box.installDir());
}

TEST(Installer, AnOldFolderWithoutThePlayerIsNotRemoved) {
  Sandbox box;
  const std::string other = box.sys() + "/home/data";
  writeFile(other + "/precious.txt", "keep me");
  ASSERT_EQ(box.reg({"add", kTarnKey, "HDir", other}).exitCode, 0);
  ASSERT_EQ(installSilently(box).exitCode, 0);
  EXPECT_EQ(readFile(other + "/precious.txt"), "keep me");
}

TEST(Installer, CopiedUninstallerRemovesTheProductAndKeepsOnlyUserDataIdentityAndLogs) {
  Sandbox box;
  auto before = box.snapshot();
  ASSERT_EQ(installSilently(box).exitCode, 0);
  ProcessResult uninstall = box.run(box.uninstaller(), {"-uinst", "/s"});
  ASSERT_EQ(uninstall.exitCode, 0) << uninstall.err;

  // The user's data under the shared data folder stays unless asked for.
  auto left = leftovers(before, box.snapshot(), {"F sys/var/lib/LuMo/LumoClient/", "D sys/var/lib/LuMo/"});
  EXPECT_TRUE(left.empty()) << ::testing::PrintToString(left);
  EXPECT_FALSE(pathExists(box.installDir()));
  EXPECT_FALSE(pathExists(box.uninstaller()));
  EXPECT_TRUE(pathExists(box.appData() + "/Lumo/Installer/LumoInstaller.log"));
}

// A silent uninstallation never ticks the box for removing user data, so
// the uninstall sections of the default script run here in-process, as the
// uninstall dialog runs them after the box was ticked.
TEST(Installer, UninstallWithUserDataRemovalLeavesOnlyIdentityAndLogs) {
  Sandbox box;
  auto before = box.snapshot();
  ASSERT_EQ(installSilently(box).exitCode, 0);
  {
    std::vector<std::unique_ptr<ScopedEnv>> variables;
    for (const auto& [name, value] : box.environment())
      variables.push_back(std::make_unique<ScopedEnv>(name, value.empty() ? std::nullopt : std::optional(value)));
    RunEnvironment& env = runEnvironment();
    const RunEnvironment saved = env;
    fillRunEnvironment(env, box.uninstaller(), true);
    env.installMode = false;
    env.silent = true;
    env.iniPath = box.appData() + "/Lumo/Installer/install.ini";
    ResetRunVariables();
    // As the uninstall dialog does: removal by the record, which goes
    // once the uninstallation is done.
    startInstallRecord(env);
    SectionList init, uninstall;
    ReadSection("[uninstallinit]", init);
    ReadSection("[uninstall]", uninstall);
    SectionThreadProc(init);
    const std::string savedInstall = installFolder();
    setInstallFolder(GetVariable("installdir"));
    ASSERT_EQ(installFolder(), box.installDir());
    SetVariable("rmuserdata", "1");
    SectionThreadProc(uninstall);
    discardInstallRecord();
    setInstallFolder(savedInstall);
    env = saved;
  }
  // Run in-process, the uninstaller wrote no log beside itself; its folder
  // is what would hold it.
  auto left = leftovers(before, box.snapshot(), {"D sys/etc/xdg/Lumo/Installer/"});
  EXPECT_TRUE(left.empty()) << ::testing::PrintToString(left);
  EXPECT_FALSE(pathExists(box.kernel() + "/LumoClient"));
}

TEST(Installer, UninstallWithoutAnInstallationChangesNothing) {
  Sandbox box;
  auto before = box.snapshot();
  ProcessResult uninstall = box.run(box.installer(), {"-uinst", "/s"});
  EXPECT_EQ(uninstall.exitCode, kExitNotInstalled) << uninstall.err;
  // Start-up makes the product's cache folder whatever the mode.
  auto left = leftovers(before, box.snapshot(), {"D sys/var/lib/LuMo/"});
  EXPECT_TRUE(left.empty()) << ::testing::PrintToString(left);
}

TEST(Installer, ASecondInstallerStartedDuringAnInstallationEndsAtOnce) {
  Sandbox box;
  // The first installer lingers in [install] so that the second one finds it
  // running: it runs a program that waits to read a pipe the test writes to
  // once it has seen the second one end.
  const std::string go = box.root() + "/go";
  ASSERT_EQ(::mkfifo(go.c_str(), 0600), 0);
  const std::string linger = box.root() + "/linger";
  writeFile(linger, "#!/bin/sh\nread line < '" + go + "'\n");
  ASSERT_EQ(::chmod(linger.c_str(), 0755), 0);
  const std::string lingerLine = "Run " + linger + "||60000|hide";
  std::vector<std::string> lines = defaultScriptLines();
  auto install = commandLines(lines, "[install]");
  ASSERT_FALSE(install.empty());
  lines.insert(lines.begin() + static_cast<long>(install.front().lineIndex), "#" + lingerLine);
  writeFile(box.dist() + "/install.ini", toScriptBytes(lines));

  auto first = std::async(std::launch::async, [&] { return installSilently(box); });
  // The log shows a line as it starts: from then on the first one lingers.
  const std::string log = box.dist() + "/LumoInstaller.log";
  for (auto waited = std::chrono::steady_clock::now();
       std::chrono::steady_clock::now() - waited < std::chrono::seconds(10) &&
       (!pathExists(log) || readFile(log).find(lingerLine) == std::string::npos);)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ProcessResult second = box.run(box.installer(), {"/s"});
  EXPECT_EQ(second.exitCode, kExitAnotherRunning);
  EXPECT_EQ(first.wait_for(std::chrono::seconds(0)), std::future_status::timeout) << "the second run waited";
  // Opened for reading and writing, the pipe never blocks the test, whether
  // or not the program reads it.
  const int pipe = ::open(go.c_str(), O_RDWR);
  ASSERT_GE(pipe, 0);
  ASSERT_EQ(::write(pipe, "go\n", 3), 3);
  EXPECT_EQ(first.get().exitCode, 0);
  ::close(pipe);
  EXPECT_TRUE(pathExists(box.installDir() + "/LumoClient.exe"));
}

}  // namespace
}  // namespace lumo::test
