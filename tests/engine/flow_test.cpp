#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "app/exit_status.h"
#include "app/headless_dialogs.h"
#include "app/install_flow.h"
#include "app/run.h"
#include "app/uninstall_flow.h"
#include "app/worker_threads.h"
#include "engine_test_support.h"
#include "manual_timers.h"
#include "platform/text.h"
#include "script/dispatcher.h"
#include "script/execution_log.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using test::ScopedRun;
using test::kFlowVars;
using test::TempDir;

constexpr const char* kInstallSections =
    "[installinit]\n#Record init\n"
    "[install]\n#Notify 正在准备安装...|5\n#Record install $INSTALL\n#NotifyOK\n"
    "[installok]\n#Notify 安装完成|100\n#IfThen (@autorun==1)->#Record run\n#Notify 正在关闭|100\n"
    "[installfailed]\n#Record rollback\n#Notify 回滚完成|0\n";

const FlowTimings kTimings = test::flowTimings();

struct Outcome {
  int status = -1;
  std::vector<std::string> questions;  // "id: text"
  std::vector<std::string> lines;      // what the Record verb received
  std::vector<std::string> reports;    // what SendLog received
  std::string log;
  std::string logPath;
};

// What a test does while its run goes on, on a thread of its own: it moves
// the run's clock and lets held sections go on.
using Drive = std::function<void(test::ManualTimers&)>;

// One silent run of the dialog of the mode, in process, as main makes it,
// on a clock that only `drive` moves.
Outcome runDialog(const TempDir& dir, bool installMode, const std::string& script, const Drive& drive = {}) {
  Outcome outcome;
  std::mutex mutex;
  ScopedRun scoped(dir, installMode, script);
  HeadlessWindows windows([&](const Question& question) {
    std::lock_guard lock(mutex);
    outcome.questions.push_back(question.id + ": " + question.text);
    return question.silentAnswer;
  });
  {
    test::ManualTimers timers;
    lumo::Run run(windows, {.timings = kTimings, .silentWindows = &windows, .timers = &timers});
    std::thread driver;
    if (drive) {
      driver = std::thread([&] {
        drive(timers);
        // A driver that stopped at a failed check must not leave the run held.
        test::letEveryHoldGo();
      });
    }
    outcome.status = run.runDialog();
    if (driver.joinable()) driver.join();
  }
  EXPECT_EQ(runningWorkers(), 0);
  closeExecutionLog();
  outcome.lines = test::recordedLines();
  outcome.reports = test::sentReports();
  outcome.logPath = scoped.logPath();
  outcome.log = test::logText(scoped.logPath());
  return outcome;
}

std::string banner(std::string_view name) { return replaceAll(sectionBanner(name), "\n", "\r\n"); }

// The banners in the order the log holds them.
std::vector<std::string> bannersIn(const std::string& log) {
  std::vector<std::string> names;
  const std::string marker = "LumoShellParser::";
  for (std::size_t at = log.find(marker); at != std::string::npos; at = log.find(marker, at + 1)) {
    std::size_t end = log.find("  ", at);
    names.push_back(log.substr(at + marker.size(), end - at - marker.size()));
  }
  return names;
}

// [uninstall] starts once its pause has passed.
void passStartPause(test::ManualTimers& timers) {
  ASSERT_TRUE(timers.waitForTimer(kTimings.uninstallStartPause));
  ASSERT_TRUE(timers.advance(kTimings.uninstallStartPause));
}

std::string failureBox(const std::string& logPath) {
  return "install.failed: 抱歉! Vexta影音安装过程中遇到问题并且无法修复，安装即将退出！\n安装日志详细描述了错误原因，请参考:" +
         logPath;
}

TEST(InstallFlow, ASilentInstallationRunsItsThreeSectionsAndCloses) {
  for (std::string autorun : {"1", "0"}) {
    TempDir dir;
    Outcome outcome = runDialog(dir, true, std::string(kFlowVars) + "autorun=" + autorun + "\n" + kInstallSections);
    EXPECT_EQ(outcome.status, kExitOk);
    EXPECT_EQ(bannersIn(outcome.log), (std::vector<std::string>{"ExecInstallInit", "ExecInstall", "ExecInstallOK"}));
    std::vector<std::string> lines{"init", "install " + dir / "programs/Vexta"};
    if (autorun == "1") lines.push_back("run");
    EXPECT_EQ(outcome.lines, lines);
    // With autorun other than "1" the finish page is never seen; the close
    // timer ends the run and reports that the product was not started.
    EXPECT_EQ(outcome.reports, std::vector<std::string>{autorun == "1" ? "install|complete||+setuprun=1"
                                                                        : "install|complete||+setuprun=0"});
    EXPECT_TRUE(outcome.questions.empty());
    EXPECT_NE(outcome.log.find("Notify 正在关闭|100\r\r\n"), std::string::npos);
  }
}

TEST(InstallFlow, AFailingCommandRollsBackAndEndsWithTheFailureBox) {
  TempDir dir;
  std::string script = std::string(kFlowVars) + "autorun=1\n" +
                       replaceAll(kInstallSections, "#NotifyOK\n", "#Fail boom\n#Record never\n#NotifyOK\n");
  Outcome outcome = runDialog(dir, true, script);
  EXPECT_EQ(outcome.status, kExitInstallFailed);
  EXPECT_EQ(bannersIn(outcome.log), (std::vector<std::string>{"ExecInstallInit", "ExecInstall", "ExecInstallFailed"}));
  EXPECT_EQ(outcome.lines, (std::vector<std::string>{"init", "install " + dir / "programs/Vexta", "rollback"}));
  EXPECT_EQ(outcome.questions, (std::vector<std::string>{"script.command-failed: 执行安装命令时出错：\n[Fail] boom",
                                                         failureBox(outcome.logPath)}));
  EXPECT_EQ(outcome.reports, std::vector<std::string>{"install|failed||"});
  EXPECT_NE(outcome.log.find("Fail boom\r\r\n[Fail] boom\r\r\n" + banner(kExecInstallFailed)), std::string::npos);
}

TEST(InstallFlow, AFailureInsideTheRollbackEndsTheRunAtOnce) {
  TempDir dir;
  std::string script = std::string(kFlowVars) + "autorun=1\n" +
                       replaceAll(replaceAll(kInstallSections, "#NotifyOK\n", "#Fail boom\n"), "#Record rollback\n",
                                  "#Record rollback\n#Fail again\n");
  Outcome outcome = runDialog(dir, true, script);
  EXPECT_EQ(outcome.status, kExitInstallFailed);
  EXPECT_EQ(outcome.lines, (std::vector<std::string>{"init", "install " + dir / "programs/Vexta", "rollback"}));
  EXPECT_EQ(outcome.questions, (std::vector<std::string>{"script.command-failed: 执行安装命令时出错：\n[Fail] boom",
                                                         "script.command-failed: 执行安装命令时出错：\n[Fail] again",
                                                         failureBox(outcome.logPath)}));
  EXPECT_EQ(outcome.reports, std::vector<std::string>{"install|failed||"});
  EXPECT_EQ(outcome.log.find("Notify 回滚完成"), std::string::npos);
}

TEST(InstallFlow, ARollbackAfterTheClosingTextRunsToItsEnd) {
  TempDir dir;
  std::string script = std::string(kFlowVars) + "autorun=1\n" +
                       replaceAll(replaceAll(kInstallSections, "#Notify 正在关闭|100\n", "#Notify 正在关闭|100\n#Fail late\n"),
                                  "#Record rollback\n", "#Record rollback\n#Hold rollback\n");
  Outcome outcome = runDialog(dir, true, script, [](test::ManualTimers& timers) {
    ASSERT_TRUE(test::waitUntilHeld("rollback"));
    ASSERT_TRUE(timers.advance(2 * kTimings.closeTimer));
    test::letGo("rollback");
  });
  EXPECT_EQ(outcome.status, kExitInstallFailed);
  // The close delay passed during the rollback without ending the run.
  EXPECT_EQ(outcome.questions, (std::vector<std::string>{"script.command-failed: 执行安装命令时出错：\n[Fail] late",
                                                         failureBox(outcome.logPath)}));
  EXPECT_EQ(outcome.reports, (std::vector<std::string>{"install|complete||+setuprun=1", "install|failed||"}));
}

TEST(InstallFlow, AFailureInTheInitSectionRollsBackWithoutInstalling) {
  TempDir dir;
  std::string script =
      std::string(kFlowVars) + "autorun=1\n" + replaceAll(kInstallSections, "#Record init\n", "#Fail init\n");
  Outcome outcome = runDialog(dir, true, script);
  EXPECT_EQ(outcome.status, kExitInstallFailed);
  EXPECT_EQ(bannersIn(outcome.log), (std::vector<std::string>{"ExecInstallInit", "ExecInstallFailed"}));
  EXPECT_EQ(outcome.lines, std::vector<std::string>{"rollback"});
}

TEST(InstallFlow, ASilentRunEndsWithItsLastWorkerWhenNothingClosesIt) {
  const struct {
    std::string from, to;
    int status;
    std::vector<std::string> banners;
  } cases[] = {
      // [install] without NotifyOK: [installok] never runs, nothing completed.
      {"#NotifyOK\n", "", kExitIncomplete, {"ExecInstallInit", "ExecInstall"}},
      // [installok] without msg_close: the installation did complete.
      {"#Notify 正在关闭|100\n", "", kExitOk, {"ExecInstallInit", "ExecInstall", "ExecInstallOK"}},
      // A rollback that never says it is done still ended in failure.
      {"#Notify 回滚完成|0\n", "", kExitInstallFailed, {"ExecInstallInit", "ExecInstall", "ExecInstallFailed"}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::string sections = replaceAll(kInstallSections, c.from, c.to);
    if (c.status == kExitInstallFailed) sections = replaceAll(sections, "#NotifyOK\n", "#Fail boom\n");
    Outcome outcome = runDialog(dir, true, std::string(kFlowVars) + "autorun=1\n" + sections);
    EXPECT_EQ(outcome.status, c.status) << c.from;
    EXPECT_EQ(bannersIn(outcome.log), c.banners) << c.from;
  }
}

TEST(InstallFlow, AnInitSectionThatOutlivesItsWaitKeepsRunning) {
  TempDir dir;
  std::string script =
      std::string(kFlowVars) + "autorun=1\n" +
      replaceAll(replaceAll(kInstallSections, "#Record init\n", "#Notify 正在初始化...|1\n#Hold init\n#Record init-late\n"),
                 "#Record install $INSTALL\n", "#Record install $INSTALL\n#Hold install\n");
  Outcome outcome = runDialog(dir, true, script, [](test::ManualTimers& timers) {
    ASSERT_TRUE(test::waitUntilHeld("init"));
    ASSERT_TRUE(timers.advance(kTimings.installInitWait - 1ms));
    EXPECT_EQ(timers.running(kTimings.installInitWait), 1) << "the wait is not over yet";
    ASSERT_TRUE(timers.advance(1ms));
    EXPECT_EQ(timers.running(kTimings.installInitWait), 0);
    ASSERT_TRUE(test::waitUntilHeld("install"));
    test::letGo("init");
    test::letGo("install");
  });
  EXPECT_EQ(outcome.status, kExitOk);
  // [install] started while [installinit] slept; the run waited for it.
  EXPECT_LT(outcome.log.find(banner(kExecInstall)), outcome.log.find("Record init-late"));
  EXPECT_EQ(outcome.lines.front(), "install " + dir / "programs/Vexta");
  EXPECT_NE(std::find(outcome.lines.begin(), outcome.lines.end(), "init-late"), outcome.lines.end());
}

TEST(InstallFlow, AnEarlierVextaFolderIsKeptWhenItExists) {
  TempDir dir;
  std::filesystem::create_directories(dir / "Apps/Vexta");
  std::filesystem::create_directories(dir / "Apps/Other");
  std::filesystem::create_directory_symlink(dir / "Apps/Other", dir / "VextaLink");
  const struct {
    std::string installdir, folder, replace;
  } cases[] = {
      {dir / "Apps/Vexta", dir / "Apps/Vexta", "1"},
      {replaceAll(dir / "Apps/Vexta", "/", "\\"), dir / "Apps/Vexta", "1"},  // either separator
      {dir / "Apps//./Vexta/", dir / "Apps/Vexta", "1"},
      // The rule judges the folder the text leads to, not the text.
      {dir / "Apps/Vexta/..", dir / "programs/Vexta", "0"},
      {dir / "VextaLink", dir / "programs/Vexta", "0"},
      {dir / "Apps/Other", dir / "programs/Vexta", "0"},
      {dir / "Gone/Vexta", dir / "programs/Vexta", "0"},
      {"", dir / "programs/Vexta", "0"},
  };
  for (const auto& c : cases) {
    Outcome outcome = runDialog(dir, true,
                                std::string(kFlowVars) + "replacesetup=0\ninstalldir=" + c.installdir +
                                    "\n[install]\n#Record $INSTALL|@replacesetup\n");
    EXPECT_EQ(outcome.lines, std::vector<std::string>{c.folder + "|" + c.replace}) << c.installdir;
    EXPECT_EQ(outcome.status, kExitIncomplete);
  }
}

TEST(InstallFlow, ASilentRunWhoseInitSectionFailsEndsInFailure) {
  const struct {
    std::string order, init, rollback;
    Drive drive;
    std::vector<std::string> banners;
  } cases[] = {
      {"the init wait ends with the section", "#Fail init\n", "", {}, {"ExecInstallInit", "ExecInstallFailed"}},
      {"the rollback outlives the init section", "#Fail init\n", "#Hold rollback\n",
       [](test::ManualTimers&) {
         ASSERT_TRUE(test::waitUntilHeld("rollback"));
         ASSERT_TRUE(test::waitUntil([] { return runningWorkers() == 1; }));
         test::letGo("rollback");
       },
       {"ExecInstallInit", "ExecInstallFailed"}},
      {"the init wait times out, then the rollback starts and ends", "#Hold init\n#Fail init\n", "",
       [](test::ManualTimers& timers) {
         ASSERT_TRUE(test::waitUntilHeld("init"));
         ASSERT_TRUE(timers.advance(kTimings.installInitWait));
         test::letGo("init");
       },
       {"ExecInstallInit", "ExecInstall", "ExecInstallFailed"}},
  };
  for (const auto& c : cases) {
    for (bool closingText : {true, false}) {
      SCOPED_TRACE(c.order + (closingText ? ", with" : ", without") + " the closing text");
      TempDir dir;
      Outcome outcome = runDialog(dir, true,
                                  std::string(kFlowVars) + "[installinit]\n" + c.init + "[install]\n#Record install\n" +
                                      "[installfailed]\n" + c.rollback + "#Record rollback\n" +
                                      (closingText ? "#Notify 回滚完成|0\n" : ""),
                                  c.drive);
      EXPECT_EQ(outcome.status, kExitInstallFailed);
      EXPECT_EQ(bannersIn(outcome.log), c.banners);
      ASSERT_FALSE(outcome.questions.empty());
      EXPECT_EQ(outcome.questions.front().substr(0, 22), "script.command-failed:");
      EXPECT_EQ(outcome.questions.size(), closingText ? 2u : 1u) << "the failure box only after the closing text";
    }
  }
}

TEST(InstallFlow, TheInstallFinishedMessageIsHonouredOncePerRun) {
  TempDir dir;
  std::string script = std::string(kFlowVars) + "autorun=1\n[install]\n#NotifyOK\n" +
                       "[installok]\n#Record ok\n#Notify 安装完成|100\n#NotifyOK\n#Notify 正在关闭|100\n";
  Outcome outcome = runDialog(dir, true, script);
  EXPECT_EQ(outcome.status, kExitOk);
  EXPECT_EQ(bannersIn(outcome.log), (std::vector<std::string>{"ExecInstallInit", "ExecInstall", "ExecInstallOK"}));
  EXPECT_EQ(outcome.lines, std::vector<std::string>{"ok"});
  EXPECT_EQ(outcome.reports, std::vector<std::string>{"install|complete||+setuprun=1"});
  EXPECT_NE(outcome.log.find("NotifyOK \r\r\nNotifyOK: [installok] has already been started; ignored\r\r\n"),
            std::string::npos);
}

// A window for driving the install flow by hand, as a wizard with a user.
class VisibleWindow final : public InstallWindow {
 public:
  void show(const InstallFace& shown) override { face = shown; }
  void showProgress(int, const std::string&) override {}
  void showBalloon(const std::string&, const std::string&) override {}
  Button ask(const Question& question) override { return question.silentAnswer; }
  InstallFace face;
};

TEST(InstallFlow, AChosenFolderEqualToTheEarlierOneIgnoringCaseReplacesIt) {
  TempDir dir;
  std::filesystem::create_directories(dir / "Apps/Vexta");
  ScopedRun run(dir, true, std::string(kFlowVars) + "replacesetup=0\ninstalldir=" + dir / "Apps/Vexta" +
                               "\n[install]\n#Record $INSTALL|@replacesetup\n");
  runEnvironment().silent = false;
  DialogThread thread;
  test::ManualTimers timers;
  InstallFlow flow(thread, timers, kTimings);
  VisibleWindow window;
  flow.setWindow(window);
  flow.start();
  ASSERT_TRUE(test::turnUntil([&] { return flow.state().phase == InstallPhase::Options; }));
  EXPECT_EQ(window.face.folder, dir / "Apps/Vexta");
  flow.deliver(Intent(Intent::FolderChosen, 0, dir / "APPS"));
  flow.deliver(Intent(Intent::InstallPressed));
  EXPECT_EQ(flow.state().phase, InstallPhase::Installing);
  waitForWorkers(kTimings.workerExitWait);
  ASSERT_EQ(runningWorkers(), 0);
  EXPECT_EQ(test::recordedLines(), std::vector<std::string>{dir / "APPS/Vexta|1"});
}

TEST(UninstallFlow, ASilentUninstallationRemovesAndCloses) {
  TempDir dir;
  test::writeFile(dir / "opt/Vexta/LumoClient.exe", "");
  std::string script = std::string(kFlowVars) + "rmuserdata=1\ninstalldir=" + dir / "opt/Vexta" +
                       "\n[uninstallinit]\n#Record uinit\n"
                       "[uninstall]\n#Record remove $INSTALL @rmuserdata\n#Fail ignored\n#Record $NOPE\n"
                       "#RMDir $INSTALL\n#Notify 卸载完成|100\n#Record after\n";
  Outcome outcome = runDialog(dir, false, script, [](test::ManualTimers& timers) {
    // The removing face gets its moment before the section starts.
    ASSERT_TRUE(timers.waitForTimer(kTimings.uninstallStartPause));
    ASSERT_TRUE(timers.advance(kTimings.uninstallStartPause - 1ms));
    EXPECT_EQ(timers.running(kTimings.uninstallStartPause), 1);
    ASSERT_TRUE(timers.advance(1ms));
    EXPECT_EQ(timers.running(kTimings.uninstallStartPause), 0);
  });
  EXPECT_EQ(outcome.status, kExitOk);
  EXPECT_EQ(bannersIn(outcome.log), (std::vector<std::string>{"ExecUnInstallInit", "ExecUninstall"}));
  EXPECT_EQ(outcome.lines, (std::vector<std::string>{"uinit", "remove " + dir / "opt/Vexta" + " 0", "after"}));
  EXPECT_NE(outcome.log.find("Fail ignored\r\r\n[Fail] ignored (uninstalling goes on)\r\r\nRecord $NOPE\r\r\nInvalid command or argument:  $NOPE\r\r\n"),
            std::string::npos);
  EXPECT_TRUE(outcome.questions.empty());
  EXPECT_TRUE(outcome.reports.empty());  // a silent uninstallation sends no closing report
}

TEST(UninstallFlow, WithoutAnInstallationNothingIsRemoved) {
  TempDir dir;
  std::filesystem::create_directories(dir / "opt/Vexta");  // no LumoClient.exe in it
  for (std::string installdir : {dir / "opt/Vexta", dir / "missing", std::string()}) {
    std::string script = std::string(kFlowVars) + "installdir=" + installdir +
                         "\n[uninstallinit]\n#Record uinit\n[uninstall]\n#Record remove\n#Notify 卸载完成|100\n";
    Outcome outcome = runDialog(dir, false, script);
    EXPECT_EQ(outcome.status, kExitNotInstalled);
    EXPECT_EQ(outcome.lines, std::vector<std::string>{"uinit"});
    EXPECT_EQ(outcome.questions, std::vector<std::string>{"uninstall.not-installed: 您未安装或已经卸载了Vexta影音！"});
    EXPECT_EQ(bannersIn(outcome.log), std::vector<std::string>{"ExecUnInstallInit"});
  }
}

// An installdir that leads to the user's home, which holds a LumoClient.exe,
// is no product folder: the uninstallation is refused before it starts,
// says why and fails, and the home stays.
TEST(UninstallFlow, AFolderThatLeadsToTheHomeIsNeverRemoved) {
  TempDir dir;
  test::ScopedEnv home("HOME", dir / "home");
  test::writeFile(dir / "home/LumoClient.exe", "");
  test::writeFile(dir / "home/Vexta/LumoClient.exe", "");
  for (const std::string& installdir : {dir / "home", dir / "home/Vexta/..", dir / "home//Vexta/./../"}) {
    std::string script = std::string(kFlowVars) + "installdir=" + installdir +
                         "\n[uninstall]\n#Record remove $INSTALL\n#RMDir $INSTALL\n#Notify 卸载完成|100\n";
    Outcome outcome = runDialog(dir, false, script);
    EXPECT_EQ(outcome.status, kExitUninstallFailed);
    EXPECT_TRUE(outcome.lines.empty()) << installdir;
    ASSERT_EQ(outcome.questions.size(), 1u);
    EXPECT_TRUE(outcome.questions[0].starts_with("uninstall.folder-refused: ")) << outcome.questions[0];
    EXPECT_NE(outcome.log.find("The run ends with status 6"), std::string::npos);
    EXPECT_TRUE(test::pathExists(dir / "home/Vexta/LumoClient.exe"));
  }
}

TEST(UninstallFlow, AnUninstallationThatNeverSaysItIsDoneEndsIncomplete) {
  TempDir dir;
  test::writeFile(dir / "opt/Vexta/LumoClient.exe", "");
  std::string script = std::string(kFlowVars) + "installdir=" + dir / "opt/Vexta" +
                       "\n[uninstall]\n#Record remove\n#IfThen (1==1)->Record broken\n#Notify 卸载完成|100\n";
  Outcome outcome = runDialog(dir, false, script, passStartPause);
  EXPECT_EQ(outcome.status, kExitIncomplete);
  EXPECT_EQ(outcome.lines, std::vector<std::string>{"remove"});
}

TEST(HeadlessWindows, ARunThatWouldNeedAWindowSaysSoAndEnds) {
  TempDir dir;
  ScopedRun scoped(dir, true, std::string(kFlowVars) + kInstallSections);
  runEnvironment().silent = false;
  HeadlessWindows windows;
  lumo::Run run(windows);
  testing::internal::CaptureStderr();
  EXPECT_EQ(run.runDialog(), kExitOk);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("only silent runs"), std::string::npos);
  EXPECT_TRUE(test::recordedLines().empty());
}

}  // namespace
}  // namespace lumo
