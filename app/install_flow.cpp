#include "app/install_flow.h"

#include "commands/process.h"
#include "commands/statistics.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "script/decimal.h"
#include "script/dispatcher.h"
#include "script/execution_log.h"
#include "script/host.h"
#include "script/install_folder.h"
#include "script/run_environment.h"
#include "script/script_error.h"

namespace lumo {
namespace {

constexpr std::string_view kConfirmExitText = "您确定要退出 Vexta影音 安装程序吗？";
constexpr std::string_view kConfirmExitCaption = "退出安装";
constexpr std::string_view kRunFailedText = "暂时无法启动Vexta影音：";
constexpr std::string_view kFolderRefusedText = "无法安装到这个文件夹，请选择其他文件夹：\n";

constexpr std::string_view kOpenLicenseLine = "OpenUrl @license_url|ie";

// The product's program in the install folder, as the script names it.
constexpr std::string_view kProductProgram = "\\LumoClient.exe";

// The next "."-ended component of a version text, read as a number.
int nextComponent(std::string_view& text) {
  std::size_t dot = text.find('.');
  std::string_view component = text.substr(0, dot);
  text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  return readDecimal(component);
}

}  // namespace

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
  // A record that names no product folder is no earlier installation: the
  // [install] lines that remove the old folder must not reach it.
  dropUnfitEarlierInstallFolder();

  // An earlier installation's folder is kept when it exists and is a Vexta
  // folder (either separator); otherwise the default folder.
  const std::string installed = earlierInstallFolder();
  RunEnvironment& env = runEnvironment();
  folder_ = pathFileExists(installed) && installed.find("/Vexta") != std::string::npos ? installed
                                                                                       : env.programFiles + "/Vexta";
  setInstallFolder(folder_);
  installedIsNewer_ = IsInstalledNewer(GetVariable("realversion"));
  autorun_ = GetVariable("autorun") == "1";
  for (int number = 1; number <= 3; ++number) {
    const std::string n = std::to_string(number);
    if (GetVariable("softcheck" + n) != "1") continue;
    std::string name = GetVariable("softname" + n);
    if (!name.empty()) offers_.push_back(Offer{number, std::move(name)});
  }
  balloonsEnabled_ = GetVariable("notifyicon") == "1";
  title_ = "Vexta影音" + GetVariable("app_version") + "安装程序";
  if (env.silent) startInstallation(folder_);
  initialised();
}

void InstallFlow::startInstallation(const std::string& folder) {
  // Once the rollback has begun (a failure in [installinit]), installing
  // would undo it; and the installation starts only once.
  if (installing_ || rollbackStarted_ || ending_) return;
  if (std::optional<std::string> why = whyNotInstallFolder(folder)) {
    refuseFolder(*why);
    return;
  }
  installing_ = true;
  folder_ = folder;
  setInstallFolder(folder);
  if (equalsIgnoreCase(folder, earlierInstallFolder())) SetVariable("replacesetup", "1");
  wizard_.showInstallingPage();
  startSection(kExecInstall, std::move(install_));
}

void InstallFlow::refuseFolder(const std::string& why) {
  LogWarning("The installation folder is refused: " + why);
  host().ask(Question{.id = "install.folder-refused",
                      .text = std::string(kFolderRefusedText) + why,
                      .caption = std::string(kInstallerCaption),
                      .buttons = {Button::Ok},
                      .icon = Icon::Warning});
  // The wizard stays for another choice; a silent run has no other.
  if (!runEnvironment().silent) return;
  setFailure(kExitIncomplete, "the installation folder is refused: " + why);
  ending_ = true;
  wizard_.endDialog();
}

void InstallFlow::onInstallFinished() {
  // [installok] itself may say NotifyOK: restarting it would repeat the
  // completion (and its reports) for ever.
  if (installOkStarted_) {
    Log("NotifyOK: [installok] has already been started; ignored\r\n");
    return;
  }
  installOkStarted_ = true;
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
    runWhileServing([] { commands::sendReport("install", "complete", "setuprun=1"); });
    wizard_.hide();
    return;
  }
  finishedPage_ = true;
  wizard_.showFinishedPage();
}

void InstallFlow::runProduct() {
  // The window answers clicks while the report is sent: a second click
  // must not start the product again.
  if (ending_) return;
  ending_ = true;
  try {
    const std::string program = installFolder() + std::string(kProductProgram);
    logCommandLine("Run", program + "||0|show");
    commands::runProgram(program, "", 0, true);
    runWhileServing([] { commands::sendReport("install", "complete", "setuprun=2"); });
    productLaunched_ = true;
  } catch (const ScriptError& error) {
    host().ask(Question{.id = "install.run-failed",
                        .text = std::string(kRunFailedText) + error.what(),
                        .caption = std::string(kInstallerCaption),
                        .buttons = {Button::Ok},
                        .icon = Icon::Warning});
  } catch (...) {
  }
  ending_ = false;
  wizard_.hide();
}

void InstallFlow::chooseAutorun(bool on) { SetVariable("autorun", on ? "1" : ""); }

void InstallFlow::chooseOffer(int number, bool on) {
  SetVariable("softcheck" + std::to_string(number), on ? "1" : "0");
}

void InstallFlow::openLicense() {
  runWhileServing([] { RunCommandLine(kOpenLicenseLine); });
}

void InstallFlow::openInstalledProduct() {
  if (ending_) return;
  ending_ = true;
  // The installed version is newer: the user gets it instead of this one.
  std::string product = nativePath(GetVariable("installdir"));
  if (!product.ends_with('/')) product += '/';
  product += "LumoClient.exe";
  if (auto plan = planStart(product, "", runEnvironment().system)) startProcess(*plan, true);
  runWhileServing([] { commands::sendReport("install", "canceled"); });
  cancelled_ = true;
  wizard_.endDialog();
}

void InstallFlow::onCloseRequest() {
  // A close request that arrives while an ending's report is sent is the
  // same ending.
  if (ending_) return;
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
    ending_ = true;
    runWhileServing([] { commands::sendReport("install", "canceled"); });
    cancelled_ = true;
    wizard_.endDialog();
    return;
  }
  // Hidden: the dialog ends. The running workers are not consulted: the
  // close requests of the close timer and of the failure endings arrive
  // while the worker that sent the last message is still finishing, and
  // neither is repeated. The end of the run waits for the workers instead.
  ending_ = true;
  wizard_.removeNotifyIcon();
  if (finishedPage_ && !productLaunched_) runWhileServing([] { commands::sendReport("install", "complete", "setuprun=0"); });
  wizard_.endDialog();
}

}  // namespace lumo
