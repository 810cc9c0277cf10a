// Silent runs of the built installer with a script beside it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "app/exit_status.h"
#include "engine_test_support.h"
#include "platform/text.h"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using test::kFlowVars;
using test::TempDir;

std::string gbkCrlf(std::string_view utf8) { return utf8ToGbk(replaceAll(utf8, "\n", "\r\n")); }

// A copy of the installer in its own folder, with every machine-wide and
// per-user path of the run inside the test's folder.
class Sandbox {
 public:
  explicit Sandbox(std::string_view script) {
    fs::create_directories(dir_ / "dist");
    fs::create_directories(dir_ / "run");
    fs::copy_file(test::buildPath("LumoInstaller"), program());
    test::writeFile(dir_ / "dist/install.ini", gbkCrlf(script));
  }

  std::string program() const { return dir_ / "dist/LumoInstaller"; }
  std::string path(std::string_view relative) const { return dir_ / relative; }
  std::string log() const { return test::logText(dir_ / "dist/LumoInstaller.log"); }
  std::string installFolder() const {
    return ::geteuid() == 0 ? dir_ / "root/opt/Vexta" : dir_ / "home/.local/share/Vexta";
  }

  test::ProcessResult run(std::vector<std::string> arguments) const {
    std::vector<std::string> argv = {"/usr/bin/timeout", "60", program()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return test::runProgram(argv, {{"LUMO_SYSROOT", dir_ / "root"},
                                   {"HOME", dir_ / "home"},
                                   {"XDG_CONFIG_HOME", ""},
                                   {"XDG_DATA_HOME", ""},
                                   {"XDG_DESKTOP_DIR", ""},
                                   {"XDG_RUNTIME_DIR", dir_ / "run"},
                                   {"TMPDIR", dir_ / "tmp"},
                                   {"LUMO_DEBUG", "0"},
                                   {"QT_QPA_PLATFORM", "offscreen"},
                                   // Reports go to a closed port on this machine.
                                   {"LUMO_STATS_URL", "http://127.0.0.1:9"}});
  }

 private:
  TempDir dir_;
};

constexpr std::string_view kSections =
    "[installinit]\n#Notify 正在初始化...|1\n"
    "[install]\n#Notify $INSTALL|50\n#SleepMiliSeconds 10\n#NotifyOK\n"
    "[installok]\n#Notify 安装完成|100\n#IfThen (@autorun==1)->#Notify 启动|100\n#Notify 正在关闭|100\n"
    "[installfailed]\n#Notify 安装失败,正在回滚...|99\n#Notify 回滚完成|0\n"
    "[uninstallinit]\n#ReadIni $INIPATH|var|where->installdir\n"
    "[uninstall]\n#Notify 正在删除 $INSTALL @rmuserdata|50\n#RMDir $INSTALL\n#Notify 卸载完成|100\n";

std::string banner(std::string_view name) {
  return "\r\r\nLumoShellParser::" + std::string(name) + "  -----------------------------\r\r\n";
}

TEST(EndToEnd, ASilentInstallationRunsEverySectionAndLogsEachLine) {
  Sandbox sandbox(std::string(kFlowVars) + std::string(kSections));
  auto result = sandbox.run({"/s"});
  EXPECT_EQ(result.exitCode, kExitOk) << result.err;
  EXPECT_EQ(sandbox.log(), banner("ExecInstallInit") + "Notify 正在初始化...|1\r\r\n" + banner("ExecInstall") +
                               "Notify " + sandbox.installFolder() + "|50\r\r\nSleepMiliSeconds 10\r\r\nNotifyOK \r\r\n" +
                               banner("ExecInstallOK") + "Notify 安装完成|100\r\r\n" +
                               // the wizard's report, run through RunCommandLine
                               "SendLog install|complete||+setuprun=1\r\r\nNotify 启动|100\r\r\n" +
                               "Notify 正在关闭|100\r\r\n");
}

TEST(EndToEnd, AFailingInstallationRollsBackAndExitsWithItsStatus) {
  Sandbox sandbox(std::string(kFlowVars) + replaceAll(kSections, "#NotifyOK\n", "#Notify broken\n#NotifyOK\n"));
  auto result = sandbox.run({"/S"});
  EXPECT_EQ(result.exitCode, kExitInstallFailed) << result.err;
  std::string log = sandbox.log();
  EXPECT_NE(log.find("Notify broken\r\r\n[Notify] Invalid arguments (nArg!=2): broken\r\r\n" +
                     banner("ExecInstallFailed") + "Notify 安装失败,正在回滚...|99\r\r\nNotify 回滚完成|0\r\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("ExecInstallOK"), std::string::npos);
  // Without a window the boxes go to stderr.
  EXPECT_NE(result.err.find("执行安装命令时出错：\n[Notify] Invalid arguments (nArg!=2): broken"), std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("安装日志详细描述了错误原因，请参考:" + sandbox.path("dist/LumoInstaller.log")),
            std::string::npos)
      << result.err;
}

TEST(EndToEnd, AnInstallationWithoutNotifyOkEndsIncomplete) {
  Sandbox sandbox(std::string(kFlowVars) + replaceAll(kSections, "#NotifyOK\n", ""));
  auto result = sandbox.run({"/s"});
  EXPECT_EQ(result.exitCode, kExitIncomplete) << result.err;
  EXPECT_EQ(sandbox.log().find("ExecInstallOK"), std::string::npos);
}

TEST(EndToEnd, ASilentUninstallationRunsItsSections) {
  Sandbox sandbox("");
  std::string installed = sandbox.path("opt/Vexta");
  test::writeFile(installed + "/LumoClient.exe", "");
  test::writeFile(sandbox.path("dist/install.ini"),
                  gbkCrlf(std::string(kFlowVars) + "where=" + installed + "\n" + std::string(kSections)));
  auto result = sandbox.run({"-uinst", "/s"});
  EXPECT_EQ(result.exitCode, kExitOk) << result.err;
  EXPECT_EQ(sandbox.log(), banner("ExecUnInstallInit") + "ReadIni " +
                               sandbox.path("dist/install.ini") + "|var|where->installdir\r\r\n" +
                               banner("ExecUninstall") + "Notify 正在删除 " + installed + " 0|50\r\r\n" +
                               "RMDir " + installed + "\r\r\n" + "Notify 卸载完成|100\r\r\n");
  EXPECT_FALSE(test::pathExists(installed));

  // Once the product is gone, the uninstaller says so and removes nothing.
  fs::remove(installed + "/LumoClient.exe");
  result = sandbox.run({"-uinst", "/s"});
  EXPECT_EQ(result.exitCode, kExitNotInstalled) << result.err;
  EXPECT_NE(result.err.find("您未安装或已经卸载了Vexta影音！"), std::string::npos) << result.err;
  EXPECT_EQ(sandbox.log().find("ExecUninstall  "), std::string::npos);
}

}  // namespace
}  // namespace lumo
