#include "app/orchestration.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "script/run_environment.h"
#include "app/worker_threads.h"
#include "platform/debug_channel.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "script/decimal.h"
#include "script/dispatcher.h"
#include "script/expansion.h"
#include "script/host.h"
#include "script/script_error.h"

namespace lumo {
namespace {

namespace fs = std::filesystem;

// Captions of the platform's application message box.
constexpr std::string_view kApplicationTitle = "Vexta影音安装程序";

constexpr std::string_view kFailureText =
    "抱歉! Vexta影音安装过程中遇到问题并且无法修复，安装即将退出！\n安装日志详细描述了错误原因，请参考:";
constexpr std::string_view kFailureCaption = "安装失败";
constexpr std::string_view kConfirmExitText = "您确定要退出 Vexta影音 安装程序吗？";
constexpr std::string_view kConfirmExitCaption = "退出安装";
constexpr std::string_view kRunFailedText = "暂时无法启动Vexta影音：";
constexpr std::string_view kNotInstalledText = "您未安装或已经卸载了Vexta影音！";

constexpr std::string_view kRunProductLine = "Run $INSTALL\\LumoClient.exe||0|show";
constexpr std::string_view kFeedbackLine =
    "OpenUrl http://www.example.com/pc/player/feedback/index.html?entry=uninstall&version=@app_version|ie";

ModeDialogs* modeDialogs = nullptr;

bool pathExists(const std::string& path) {
  std::error_code error;
  return !path.empty() && fs::exists(path, error);
}

// The next "."-ended component of a version text, read as a number.
int nextComponent(std::string_view& text) {
  std::size_t dot = text.find('.');
  std::string_view component = text.substr(0, dot);
  text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  return readDecimal(component);
}

}  // namespace

void setModeDialogs(ModeDialogs* dialogs) { modeDialogs = dialogs; }

int runModeDialog() {
  if (!modeDialogs) {
    std::fputs("LumoInstaller: no dialogs are available in this build\n", stderr);
    return kExitOk;
  }
  return runEnvironment().installMode ? modeDialogs->runInstallWizard() : modeDialogs->runUninstallDialog();
}

int runDialogFlow(TaskLoop& loop, DialogFlow& flow) {
  flow.initialise();
  loop.run();
  // The dialog has ended: messages of workers that still run are dropped.
  waitForWorkers(flow.timings().workerExitWait);
  return flow.exitStatus();
}

bool IsInstalledNewer(std::string_view installed) {
  if (installed.empty()) return false;
  const std::string ownText = GetVariable("app_version") + ".";
  const std::string installedText = std::string(installed) + ".";
  std::string_view own = ownText;
  std::string_view other = installedText;
  for (int i = 0; i < 4; ++i) {
    int mine = nextComponent(own);
    int theirs = nextComponent(other);
    if (theirs != mine) return theirs > mine;
  }
  return false;
}

// ---------------------------------------------------------------------------
// DialogFlow

DialogFlow::DialogFlow(DialogThread& thread, DialogWindow& window, FlowTimings timings)
    : thread_(thread), window_(window), timings_(timings) {}

int DialogFlow::exitStatus() const {
  if (failureFlow_) return kExitInstallFailed;
  if (completed_ || cancelled_) return kExitOk;
  return kExitIncomplete;
}

int DialogFlow::startSection(std::string_view bannerName, SectionList list) {
  const int worker = nextWorker_++;
  runningWorkers_.insert(worker);
  LogSectionBanner(bannerName);
  DialogThread* thread = &thread_;
  startWorker(std::move(list), [this, thread, worker] { thread->post([this, worker] { onWorkerEnded(worker); }); });
  return worker;
}

bool DialogFlow::waitForSection(int worker, std::chrono::milliseconds limit) {
  return thread_.serveUntil([this, worker] { return !runningWorkers_.contains(worker); }, limit);
}

void DialogFlow::initialised() { initialised_ = true; }

void DialogFlow::postCloseRequest() {
  closeRequested_ = true;
  thread_.post([this] { onCloseRequest(); });
}

void DialogFlow::onWorkerEnded(int worker) {
  runningWorkers_.erase(worker);
  // A silent run has nobody to close it: when its sections are over without
  // the text that closes the dialog, it ends with its last worker.
  if (runEnvironment().silent && initialised_ && runningWorkers_.empty() && closeTimer_ == 0 && !closeRequested_) {
    debugOutput("The last section ended without closing the dialog; the run ends\n");
    postCloseRequest();
  }
}

void DialogFlow::onProgress(const std::string& text, int percent) {
  position_ = (text == "Process++" && percent == 0) ? std::min(position_ + 1, 100) : percent;
  window_.setProgress(position_);
  // The first matching end of a run acts; the variables are read now, so a
  // script may change its texts on the way.
  if (position_ == 100 && text == GetVariable("msg_complete")) {
    onInstallComplete();
  } else if (position_ == 0 && text == GetVariable("msg_cancel_complete")) {
    failureEnding();
  } else if (position_ == 100 && text == GetVariable("msg_close")) {
    startCloseTimer();
  } else if (position_ == 100 && text == GetVariable("msg_removed")) {
    window_.associationsChanged();
    onUninstallComplete();
  }
}

void DialogFlow::startCloseTimer() {
  if (closeTimer_ != 0) thread_.stopTimer(closeTimer_);
  closeTimer_ = thread_.startTimer(timings_.closeTimer, [this] { onCloseTimer(); });
}

void DialogFlow::stopCloseTimer() {
  if (closeTimer_ == 0) return;
  thread_.stopTimer(closeTimer_);
  closeTimer_ = 0;
}

void DialogFlow::onCloseTimer() {
  // A visible dialog waits for its user; the timer closes it once hidden.
  if (!window_.isHidden()) return;
  stopCloseTimer();
  postCloseRequest();
}

void DialogFlow::failureEnding() {
  window_.associationsChanged();
  endWithFailure();
}

void DialogFlow::endWithFailure() {
  failureFlow_ = true;
  window_.hide();
  RunCommandLine("SendLog install|failed||");
  host().ask(Question{.id = "install.failed",
                      .text = std::string(kFailureText) + runEnvironment().logPath,
                      .caption = std::string(kFailureCaption),
                      .buttons = {Button::Ok},
                      .icon = Icon::Error});
  postCloseRequest();
}

// ---------------------------------------------------------------------------
// InstallFlow

InstallFlow::InstallFlow(DialogThread& thread, InstallWindow& window, FlowTimings timings)
    : DialogFlow(thread, window, timings), wizard_(window) {}

void InstallFlow::initialise() {
  SectionList init;
  ReadSection("[installinit]", init);
  ReadSection("[install]", install_);
  const int initWorker = startSection(kExecInstallInit, std::move(init));
  // The wizard waits for [installinit]; past the limit it goes on with
  // whatever the variables hold while the section runs on.
  waitForSection(initWorker, timings_.installInitWait);

  // An earlier installation's folder is kept when it exists and is a Vexta
  // folder (either separator); otherwise the default folder.
  const std::string installed = nativePath(GetVariable("installdir"));
  RunEnvironment& env = runEnvironment();
  folder_ = pathExists(installed) && installed.find("/Vexta") != std::string::npos ? installed
                                                                                   : env.programFiles + "/Vexta";
  setInstallFolder(folder_);
  installedIsNewer_ = IsInstalledNewer(GetVariable("realversion"));
  initialised();
  if (env.silent) startInstallation(folder_);
}

void InstallFlow::startInstallation(const std::string& folder) {
  // Once the rollback has begun (a failure in [installinit]), installing
  // would undo it; and the installation starts only once.
  if (installing_ || rollbackStarted_) return;
  installing_ = true;
  folder_ = folder;
  setInstallFolder(folder);
  if (equalsIgnoreCase(folder, nativePath(GetVariable("installdir")))) SetVariable("replacesetup", "1");
  startSection(kExecInstall, std::move(install_));
}

void InstallFlow::onInstallFinished() {
  SectionList installOk;
  ReadSection("[installok]", installOk);
  startSection(kExecInstallOK, std::move(installOk));
}

void InstallFlow::onInstallFailed() {
  failureFlow_ = true;
  if (!rollbackStarted_) {
    rollbackStarted_ = true;
    // A line after msg_close in [installok] failed: the close timer must
    // not end the run in the middle of the rollback.
    stopCloseTimer();
    SectionList rollback;
    ReadSection("[installfailed]", rollback);
    startSection(kExecInstallFailed, std::move(rollback));
    return;
  }
  // The rollback itself failed: nothing more runs.
  endWithFailure();
}

void InstallFlow::onInstallComplete() {
  completed_ = true;
  wizard_.associationsChanged();
  if (GetVariable("autorun") == "1") {
    // The script starts the product itself.
    RunCommandLine("SendLog install|complete||+setuprun=1");
    wizard_.hide();
    return;
  }
  finishedPage_ = true;
  wizard_.showFinishedPage();
}

void InstallFlow::runProduct() {
  try {
    auto record = Parse(kRunProductLine);
    if (!record) throw ScriptError("[Run] not available");
    Execute(*record);
    RunCommandLine("SendLog install|complete||+setuprun=2");
    productLaunched_ = true;
  } catch (const ScriptError& error) {
    host().ask(Question{.id = "install.run-failed",
                        .text = std::string(kRunFailedText) + error.what(),
                        .caption = std::string(kApplicationTitle),
                        .buttons = {Button::Ok},
                        .icon = Icon::Warning});
  } catch (...) {
  }
  wizard_.hide();
}

void InstallFlow::onCloseRequest() {
  if (!wizard_.isHidden()) {
    if (finishedPage_ && !productLaunched_) {
      // Finished: hide; the close timer ends the dialog after msg_close.
      wizard_.hide();
      return;
    }
    if (installing_ || rollbackStarted_) return;
    Button answer = host().ask(Question{.id = "install.confirm-exit",
                                        .text = std::string(kConfirmExitText),
                                        .caption = std::string(kConfirmExitCaption),
                                        .buttons = {Button::Yes, Button::No},
                                        .defaultButton = Button::No,
                                        .silentAnswer = Button::Yes,
                                        .icon = Icon::Information});
    if (answer != Button::Yes) return;
    RunCommandLine("SendLog install|canceled||");
    cancelled_ = true;
    wizard_.endDialog();
    return;
  }
  // Hidden: the dialog ends. The running workers are not consulted: the
  // close requests of the close timer and of the failure endings arrive
  // while the worker that sent the last message is still finishing, and
  // neither is repeated. The end of the run waits for the workers instead.
  wizard_.removeNotifyIcon();
  if (finishedPage_ && !productLaunched_) RunCommandLine("SendLog install|complete||+setuprun=0");
  wizard_.endDialog();
}

// ---------------------------------------------------------------------------
// UninstallFlow

UninstallFlow::UninstallFlow(DialogThread& thread, UninstallWindow& window, FlowTimings timings)
    : DialogFlow(thread, window, timings), dialog_(window) {}

void UninstallFlow::initialise() {
  SectionList init;
  ReadSection("[uninstallinit]", init);
  ReadSection("[uninstall]", uninstall_);
  const int initWorker = startSection(kExecUnInstallInit, std::move(init));
  waitForSection(initWorker, timings_.uninstallInitWait);

  RunEnvironment& env = runEnvironment();
  const std::string folder = nativePath(GetVariable("installdir"));
  setInstallFolder(folder);
  installed_ = pathExists(folder) && pathExists(folder + "/LumoClient.exe");
  if (!installed_) {
    // Shown in silent runs too: nothing is removed and nobody would know why.
    host().ask(Question{.id = "uninstall.not-installed",
                        .text = std::string(kNotInstalledText),
                        .caption = std::string(kApplicationTitle),
                        .buttons = {Button::Ok},
                        .icon = Icon::Warning});
    cancelled_ = true;
    dialog_.endDialog();
    return;
  }
  initialised();
  if (env.silent) startUninstallation(false);
}

void UninstallFlow::startUninstallation(bool removeUserData) {
  if (removing_) return;
  removing_ = true;
  SetVariable("rmuserdata", removeUserData ? "1" : "0");
  dialog_.showProgressPage();
  std::this_thread::sleep_for(timings_.uninstallStartPause);
  startSection(kExecUninstall, std::move(uninstall_));
}

void UninstallFlow::onUninstallComplete() {
  removed_ = true;
  completed_ = true;
  dialog_.showRemovedPage();
  if (runEnvironment().silent) postCloseRequest();
}

void UninstallFlow::onCloseRequest(bool cancelButton) {
  if (runEnvironment().silent) {
    dialog_.endDialog();
    return;
  }
  dialog_.hide();
  if (removed_) {
    RunCommandLine(kFeedbackLine);
  } else {
    cancelled_ = !removing_;
    RunCommandLine(cancelButton ? "SendLog uninstall|canceled||+sysbtn=0" : "SendLog uninstall|canceled||+sysbtn=1");
  }
  dialog_.endDialog();
}

}  // namespace lumo
