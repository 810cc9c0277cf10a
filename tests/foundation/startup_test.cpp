#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/exit_status.h"
#include "app/startup.h"
#include "formats/resource_bundle.h"
#include "platform/instance_lock.h"
#include "platform/known_folders.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using test::buildPath;
using test::pathExists;
using test::readFile;
using test::runProgram;
using test::ScopedEnv;
using test::TempDir;
using test::writeFile;

TEST(Startup, FontScaleFollowsTheScreenDensity) {
  EXPECT_EQ(fontScaleForDpi(96), 10);
  EXPECT_EQ(fontScaleForDpi(192), 5);
  EXPECT_EQ(fontScaleForDpi(120), 8);
  EXPECT_EQ(fontScaleForDpi(0), 10);
}

TEST(Startup, FoldersForRootAndForAUser) {
  TempDir dir;
  ScopedEnv root("LUMO_SYSROOT", dir / "root");
  ScopedEnv home("HOME", dir / "home");
  ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
  ScopedEnv data("XDG_DATA_HOME", std::nullopt);
  ScopedEnv desktop("XDG_DESKTOP_DIR", std::nullopt);
  ScopedEnv tmp("TMPDIR", dir / "tmp");

  SpecialFolders machine = specialFolders(true);
  EXPECT_EQ(machine.programFiles, dir / "root/opt");
  EXPECT_EQ(machine.kernel, dir / "root/var/lib/LuMo");
  EXPECT_EQ(machine.desktop, dir / "root/etc/skel/Desktop");
  EXPECT_EQ(machine.curDesktop, dir / "home/Desktop");
  EXPECT_EQ(machine.system, dir / "root/usr/bin");
  EXPECT_EQ(machine.smPrograms, dir / "root/usr/share/applications");
  EXPECT_EQ(machine.appData, dir / "root/etc/xdg");
  EXPECT_EQ(machine.tempDir, dir / "tmp/");

  SpecialFolders user = specialFolders(false);
  EXPECT_EQ(user.programFiles, dir / "home/.local/share");
  EXPECT_EQ(user.kernel, dir / "home/.local/share/LuMo");
  EXPECT_EQ(user.desktop, dir / "home/Desktop");
  EXPECT_EQ(user.smPrograms, dir / "home/.local/share/applications");
  EXPECT_EQ(user.system, dir / "root/usr/bin");
  EXPECT_EQ(user.appData, dir / "home/.config");

  // The desktop named in user-dirs.dirs wins over the default.
  writeFile(dir / "home/.config/user-dirs.dirs", "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  EXPECT_EQ(userDesktopFolder(), dir / "home/Schreibtisch");
  ScopedEnv noTmp("TMPDIR", std::nullopt);
  EXPECT_EQ(temporaryFolder(), "/tmp/");
}

TEST(Startup, RunEnvironmentOfAProgram) {
  TempDir dir;
  ScopedEnv root("LUMO_SYSROOT", dir / "root");
  ScopedEnv home("HOME", dir / "home");
  ScopedEnv tmp("TMPDIR", dir / "tmp");
  RunEnvironment environment;
  fillRunEnvironment(environment, dir / "my-setup/LumoInstaller", true);
  EXPECT_EQ(environment.installer, dir / "my-setup/LumoInstaller");
  EXPECT_EQ(environment.curPath, dir / "my-setup/");
  EXPECT_EQ(environment.interfaceFont, "微软雅黑");
  EXPECT_EQ(environment.systemName, "linux");
  EXPECT_EQ(environment.fontScale, 10);
  EXPECT_TRUE(fs::is_directory(dir / "root/var/lib/LuMo/LumoClient/cache"));
  EXPECT_TRUE(fs::is_directory(dir / "tmp"));
}

// A copy of an installer in a sandbox: machine-wide folders, home and
// temporary folder all inside one temporary folder.
class Sandbox {
 public:
  Sandbox() {
    fs::create_directories(dir_ / "run");
    env_ = {{"LUMO_SYSROOT", dir_ / "root"},       {"HOME", dir_ / "home"},
            {"XDG_CONFIG_HOME", dir_ / "home/.config"}, {"XDG_DATA_HOME", dir_ / "home/.local/share"},
            {"XDG_RUNTIME_DIR", dir_ / "run"},     {"TMPDIR", dir_ / "tmp"},
            {"XDG_DESKTOP_DIR", ""},               {"LUMO_DEBUG", "1"},
            {"QT_QPA_PLATFORM", "offscreen"},      {"LUMO_STATS_URL", "http://127.0.0.1:9"}};
  }

  std::string path(std::string_view relative) const { return dir_ / relative; }

  // Copies `program` to `folder`/LumoInstaller and returns its path.
  std::string place(const std::string& program, std::string_view folder) const {
    std::string target = path(folder) + "/LumoInstaller";
    fs::create_directories(path(folder));
    fs::copy_file(program, target, fs::copy_options::overwrite_existing);
    return target;
  }

  test::ProcessResult run(const std::string& program, std::vector<std::string> arguments, int seconds = 60) const {
    std::vector<std::string> argv = {"/usr/bin/timeout", std::to_string(seconds), program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProgram(argv, env_);
  }

  std::string kernelLog() const { return path("root/var/lib/LuMo/LumoClient/LumoInstaller.log"); }

 private:
  TempDir dir_;
  std::map<std::string, std::string> env_;
};

std::string gbkCrlf(std::string_view utf8) { return utf8ToGbk(replaceAll(utf8, "\n", "\r\n")); }

// A script that runs to its end without anyone at the window.
constexpr std::string_view kQuickScript =
    "[var]\n"
    "silence=0\n"
    "autorun=0\n"
    "softcheck2=1\n"
    "installdir=/old/place\n"
    "keep=保留\n"
    "msg_complete=安装完成\n"
    "msg_close=正在关闭\n"
    "msg_removed=卸载完成\n"
    "msg_cancel_complete=回滚完成\n"
    "[install]\n"
    "#NotifyOK\n"
    "[installok]\n"
    "#Notify @msg_complete|100\n"
    "#Notify @msg_close|100\n"
    "[uninstall]\n"
    "#Notify @msg_removed|100\n";

// The same script with every run variable already at its start value, so
// that resetting them leaves the file as it was.
constexpr std::string_view kSteadyScript =
    "[var]\n"
    "msg_complete=安装完成\n"
    "msg_close=正在关闭\n"
    "msg_removed=卸载完成\n"
    "msg_cancel_complete=回滚完成\n"
    "autorun=1\ninstalldir=\nrealversion=\nrmuserdata=0\nsoftname1=\nsoftname2=\nsoftname3=\n"
    "softcheck1=0\nsoftcheck2=0\nsoftcheck3=0\nsofturl1=\nsofturl2=\nsofturl3=\naccpath=\n"
    "replacesetup=0\nmaxdisk=\nmacaddr=\n"
    "[install]\n"
    "#NotifyOK\n"
    "[installok]\n"
    "#Notify @msg_complete|100\n"
    "#Notify @msg_close|100\n"
    "[uninstall]\n"
    "#Notify @msg_removed|100\n";

// The default installer with another script as INI 800.
std::string installerWithScript(const Sandbox& sandbox, std::string_view utf8Script) {
  writeFile(sandbox.path("script.ini"), gbkCrlf(utf8Script));
  std::string out = sandbox.path("packed");
  auto result = runProgram({buildPath("lumo-pack"), buildPath("LumoInstaller"), "-o", out, "--set",
                            "INI:800=" + sandbox.path("script.ini")});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  return out;
}

TEST(StartupRun, AnInstallIniBesideTheProgramIsUsedInPlace) {
  Sandbox sandbox;
  std::string program = sandbox.place(buildPath("LumoInstaller"), "dist");
  writeFile(sandbox.path("dist/install.ini"), gbkCrlf(kQuickScript));
  auto result = sandbox.run(program, {"/s"});
  EXPECT_EQ(result.exitCode, kExitOk) << result.err;
  EXPECT_NE(result.err.find("mode=install silent=1 script=" + sandbox.path("dist/install.ini") +
                            " log=" + sandbox.path("dist/LumoInstaller.log")),
            std::string::npos)
      << result.err;
  std::string script = gbkToUtf8(readFile(sandbox.path("dist/install.ini")));
  EXPECT_NE(script.find("autorun=1\r\n"), std::string::npos);
  EXPECT_NE(script.find("softcheck2=0\r\n"), std::string::npos);
  EXPECT_NE(script.find("installdir=\r\n"), std::string::npos);
  EXPECT_NE(script.find("keep=保留\r\n"), std::string::npos);
  EXPECT_TRUE(pathExists(sandbox.path("dist/LumoInstaller.log")));
  EXPECT_FALSE(pathExists(sandbox.path("tmp/lumo_install.ini")));
  EXPECT_TRUE(fs::is_directory(sandbox.path("root/var/lib/LuMo/LumoClient/cache")));
}

TEST(StartupRun, WithoutInstallIniTheEmbeddedScriptIsWrittenToTheTemporaryFolder) {
  Sandbox sandbox;
  std::string program = sandbox.place(installerWithScript(sandbox, kSteadyScript), "dist");
  writeFile(sandbox.path("tmp/lumo_install.ini"), "stale copy of an earlier run");
  auto result = sandbox.run(program, {"/s"});
  EXPECT_EQ(result.exitCode, kExitOk) << result.err;
  EXPECT_EQ(readFile(sandbox.path("tmp/lumo_install.ini")), gbkCrlf(kSteadyScript));
  EXPECT_TRUE(pathExists(sandbox.kernelLog()));
  EXPECT_FALSE(pathExists(sandbox.path("dist/install.ini")));
  EXPECT_FALSE(pathExists(sandbox.path("dist/LumoInstaller.log")));

  // Uninstalling keeps its log in the temporary folder.
  fs::remove(sandbox.kernelLog());
  result = sandbox.run(program, {"-UINST", "/S"});
  EXPECT_EQ(result.exitCode, kExitNotInstalled) << result.err;
  EXPECT_NE(result.err.find("mode=uninstall silent=1"), std::string::npos) << result.err;
  EXPECT_TRUE(pathExists(sandbox.path("tmp/LumoInstaller.log")));
  EXPECT_FALSE(pathExists(sandbox.kernelLog()));
}

TEST(StartupRun, AFolderNamedLikeASwitchChangesNothing) {
  Sandbox sandbox;
  std::string program = sandbox.place(buildPath("LumoInstaller"), "my-setup-uinst");
  writeFile(sandbox.path("my-setup-uinst/install.ini"), gbkCrlf(kQuickScript));
  // Not silent, so the wizard waits for a user who never comes: the short
  // time-out ends it once start-up has said what it chose.
  auto result = sandbox.run(program, {}, 3);
  EXPECT_NE(result.err.find("start-up: mode=install silent=0"), std::string::npos) << result.err;
}

TEST(StartupRun, SilenceInTheScriptMakesTheRunSilent) {
  Sandbox sandbox;
  std::string program = sandbox.place(buildPath("LumoInstaller"), "dist");
  writeFile(sandbox.path("dist/install.ini"), gbkCrlf(replaceAll(kQuickScript, "silence=0", "silence=1")));
  auto result = sandbox.run(program, {});
  EXPECT_EQ(result.exitCode, kExitOk) << result.err;
  EXPECT_NE(result.err.find("start-up: mode=install silent=1"), std::string::npos) << result.err;
}

TEST(StartupRun, ASecondInstanceEndsAtOnce) {
  Sandbox sandbox;
  std::string program = sandbox.place(buildPath("LumoInstaller"), "dist");
  writeFile(sandbox.path("dist/install.ini"), gbkCrlf(kQuickScript));
  std::string lockPath;
  {
    ScopedEnv runtime("XDG_RUNTIME_DIR", sandbox.path("run"));
    lockPath = instanceLockPath(kInstanceLockName);
  }
  int fd = ::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);

  auto started = std::chrono::steady_clock::now();
  auto result = sandbox.run(program, {"/s"});
  auto elapsed = std::chrono::steady_clock::now() - started;
  ::close(fd);
  EXPECT_EQ(result.exitCode, kExitAnotherRunning);
  EXPECT_NE(result.err.find("已经存在一个安装实例，请稍后再执行操作！"), std::string::npos) << result.err;
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  EXPECT_FALSE(pathExists(sandbox.path("dist/LumoInstaller.log")));
  EXPECT_EQ(readFile(sandbox.path("dist/install.ini")), gbkCrlf(kQuickScript)) << "the script is not touched";

  // Once the first one has gone, the next start runs.
  result = sandbox.run(program, {"/s"});
  EXPECT_EQ(result.err.find("已经存在一个安装实例"), std::string::npos) << result.err;
  EXPECT_TRUE(pathExists(sandbox.path("dist/LumoInstaller.log")));
}

// Two root installers from two sessions, each with a runtime folder of its
// own: the second still ends at once.
TEST(StartupRun, ASecondMachineWideRunFromAnotherSessionEndsAtOnce) {
  if (::geteuid() != 0) GTEST_SKIP() << "machine-wide runs are root's";
  Sandbox sandbox;
  std::string program = sandbox.place(buildPath("LumoInstaller"), "dist");
  writeFile(sandbox.path("dist/install.ini"), gbkCrlf(kQuickScript));
  std::string lockPath;
  {
    ScopedEnv root("LUMO_SYSROOT", sandbox.path("root"));
    lockPath = machineInstanceLockPath(kInstanceLockName);
  }
  EXPECT_EQ(lockPath, sandbox.path("root/run/Mutex_LumoInstaller.lock"));
  fs::create_directories(sandbox.path("root/run"));
  int fd = ::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  auto result = sandbox.run(program, {"/s"});
  ::close(fd);
  EXPECT_EQ(result.exitCode, kExitAnotherRunning);
  EXPECT_NE(result.err.find("已经存在一个安装实例，请稍后再执行操作！"), std::string::npos) << result.err;
  EXPECT_FALSE(pathExists(sandbox.path("dist/LumoInstaller.log")));
}

TEST(StartupRun, NoScriptAnywhereIsReportedOnStderrBeforeAnythingIsCreated) {
  Sandbox sandbox;
  std::string bare = sandbox.place(buildPath("lumo-installer-program"), "bare");
  auto result = sandbox.run(bare, {"/s"});
  EXPECT_EQ(result.exitCode, kExitStartupFailed);
  EXPECT_NE(result.err.find("找不到安装配置文件！"), std::string::npos) << result.err;
  EXPECT_FALSE(pathExists(sandbox.path("tmp/lumo_install.ini")));
  EXPECT_FALSE(pathExists(sandbox.path("home/.local/share/LuMo"))) << "no cache folder";
}

// Every file and folder below `root` except those below `except`.
std::vector<std::string> treeOutside(const std::string& root, const std::string& except) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string name = entry.path().string();
    if (name.rfind(except, 0) != 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(StartupRun, ADamagedInstallerEndsTheRunBeforeAnythingIsCreated) {
  Sandbox sandbox;
  // Skin images and the icon are added here: the default installer may not
  // carry them yet.
  writeFile(sandbox.path("art/image.png"), std::string(3000, 'p'));
  writeFile(sandbox.path("art/icon"), std::string(3000, 'i'));
  std::string sound = sandbox.path("art/LumoInstaller");
  auto packed = runProgram({buildPath("lumo-pack"), buildPath("LumoInstaller"), "-o", sound, "--set",
                            "PNG:1020=" + sandbox.path("art/image.png"), "--set", "ICON:128=" + sandbox.path("art/icon")});
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  Result<ResourceBundle> opened = ResourceBundle::open(sound);
  ASSERT_TRUE(opened) << opened.why();
  const ResourceBundle& bundle = *opened;
  ASSERT_TRUE(bundle.verifyAll());
  auto middleOf = [&](const char* type) {
    for (const ResourceEntry& entry : bundle.entries())
      if (entry.type == type) return entry.offset + entry.size / 2;
    ADD_FAILURE() << "no " << type;
    return std::uint64_t{0};
  };
  const std::uint64_t size = fs::file_size(sound);
  struct Case {
    std::string name;
    std::uint64_t flip;    // the byte changed, or
    std::uint64_t cutTo;   // the size the file is cut to
    std::string reason;
  };
  const Case cases[] = {
      {"INI", middleOf("INI"), 0, "resource INI"},
      {"DATA", middleOf("DATA"), 0, "resource DATA"},
      {"PNG", middleOf("PNG"), 0, "resource PNG"},
      {"ICON", middleOf("ICON"), 0, "resource ICON"},
      {"program code", bundle.programSize() / 2, 0, "program part"},
      {"trailer", size - 12, 0, "damaged resource bundle"},
      {"cut short", 0, size - 10, "damaged resource bundle"},
      {"cut in the payload", 0, middleOf("DATA"), "damaged resource bundle"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string program = sandbox.place(sound, "dist");
    if (c.cutTo) {
      fs::resize_file(program, c.cutTo);
    } else {
      std::string bytes = readFile(program);
      bytes[c.flip] ^= 0x10;
      writeFile(program, bytes);
    }
    std::vector<std::string> before = treeOutside(sandbox.path(""), sandbox.path("dist"));
    EXPECT_EQ(sandbox.run(buildPath("lumo-pack"), {"--verify", program}).exitCode, 1) << "--verify finds it too";

    auto result = sandbox.run(program, {"/s"});
    EXPECT_EQ(result.exitCode, kExitDamaged);
    EXPECT_NE(result.err.find(std::string(kDamagedText)), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(c.reason), std::string::npos) << result.err;
    EXPECT_EQ(treeOutside(sandbox.path(""), sandbox.path("dist")), before) << "nothing is created outside";
    EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.path("dist")), fs::directory_iterator()), 1)
        << "no log, no script beside the program";
  }
}

TEST(StartupRun, AScriptCopyThatCannotBeWrittenEndsTheRunWithoutAStrayScript) {
  Sandbox sandbox;
  std::string program = sandbox.place(buildPath("LumoInstaller"), "dist");
  writeFile(sandbox.path("tmp"), "a file where the temporary folder should be");
  auto result = sandbox.run(program, {"/s"});
  EXPECT_EQ(result.exitCode, kExitStartupFailed);
  EXPECT_NE(result.err.find("找不到安装配置文件！"), std::string::npos) << result.err;
  EXPECT_FALSE(pathExists(sandbox.path("dist/install.ini")));
}

TEST(StartupRun, AwkwardScriptsNeitherCrashNorLoseLines) {
  Sandbox sandbox;
  std::string program = sandbox.place(buildPath("LumoInstaller"), "dist");
  const std::string notGbk = "bytes=\x80\xff\xfe\x81";
  const std::string longValue = "long=" + std::string(300, 'v');
  std::string script = gbkCrlf(kQuickScript);
  script = replaceAll(script, "keep=", notGbk + "\r\n" + longValue + "\r\nkeep=");
  script = replaceAll(script, "#NotifyOK", "#NoSuchVerb x|y\r\n#Notify\tTabbed|1\r\n#NotifyOK");
  writeFile(sandbox.path("dist/install.ini"), script);
  auto result = sandbox.run(program, {"/s"});
  EXPECT_EQ(result.exitCode, kExitOk) << result.err;
  std::string after = readFile(sandbox.path("dist/install.ini"));
  for (const std::string& line : {notGbk, longValue, std::string("#NoSuchVerb x|y"), std::string("#Notify\tTabbed|1")})
    EXPECT_NE(after.find(line + "\r\n"), std::string::npos) << line;
}

}  // namespace
}  // namespace lumo
