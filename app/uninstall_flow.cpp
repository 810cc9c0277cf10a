#include "app/uninstall_flow.h"

#include "commands/statistics.h"
#include "platform/file_operations.h"
#include "script/dispatcher.h"
#include "script/host.h"
#include "script/install_folder.h"
#include "script/run_environment.h"

namespace lumo {
namespace {

constexpr std::string_view kNotInstalledText = "您未安装或已经卸载了Vexta影音！";
constexpr std::string_view kFolderRefusedText = "Vexta影音的安装记录指向的文件夹不能卸载：\n";

// The product's version follows "version=".
constexpr std::string_view kFeedbackAddress =
    "http://www.example.com/pc/player/feedback/index.html?entry=uninstall&version=";

}  // namespace

UninstallFlow::UninstallFlow(DialogThread& thread, UninstallWindow& window, FlowTimings timings)
    : DialogFlow(thread, window, timings), dialog_(window) {}

void UninstallFlow::initialise() {
  SectionList init;
  ReadSection("[uninstallinit]", init);
  ReadSection("[uninstall]", uninstall_);
  const int initWorker = startSection(kExecUnInstallInit, std::move(init));
  waitForSection(initWorker, timings_.uninstallInitWait);

  RunEnvironment& env = runEnvironment();
  const std::string recorded = earlierInstallFolder();
  std::optional<std::string> why = dropUnfitEarlierInstallFolder();
  if (why && pathFileExists(recorded)) {
    // Shown in silent runs too: the record names a folder that is there but
    // is no product folder, and removing it would take what is not ours. A
    // record of a folder that is gone leaves nothing to remove: the
    // installation is simply not there.
    host().ask(Question{.id = "uninstall.folder-refused",
                        .text = std::string(kFolderRefusedText) + *why,
                        .caption = std::string(kInstallerCaption),
                        .buttons = {Button::Ok},
                        .icon = Icon::Error});
    setFailure(kExitUninstallFailed, "the recorded installation folder is refused: " + *why);
    dialog_.endDialog();
    return;
  }
  const std::string folder = earlierInstallFolder();
  setInstallFolder(folder);
  installed_ = pathFileExists(folder) && pathFileExists(folder + "/LumoClient.exe");
  if (!installed_) {
    // Shown in silent runs too: nothing is removed and nobody would know why.
    host().ask(Question{.id = "uninstall.not-installed",
                        .text = std::string(kNotInstalledText),
                        .caption = std::string(kInstallerCaption),
                        .buttons = {Button::Ok},
                        .icon = Icon::Warning});
    cancelled_ = true;
    dialog_.endDialog();
    return;
  }
  title_ = "Vexta影音" + GetVariable("app_version") + "卸载程序";
  if (env.silent) startUninstallation(false);
  initialised();
}

void UninstallFlow::startUninstallation(bool removeUserData) {
  if (removing_) return;
  removing_ = true;
  SetVariable("rmuserdata", removeUserData ? "1" : "0");
  dialog_.showProgressPage();
  // The progress page gets its moment on screen before the section starts;
  // the dialog thread keeps serving meanwhile.
  startSectionAfter(timings_.uninstallStartPause, kExecUninstall, std::move(uninstall_));
}

void UninstallFlow::onUninstallComplete() {
  // [uninstall] may delete the working script after it has reported the
  // removal (the default script does), long before the user closes the
  // dialog: the version for the feedback page is read while it is there.
  if (!removed_) feedbackLine_ = "OpenUrl " + std::string(kFeedbackAddress) + GetVariable("app_version") + "|ie";
  removed_ = true;
  completed_ = true;
  dialog_.showRemovedPage();
  if (runEnvironment().silent) postCloseRequest();
}

void UninstallFlow::beforeExit() {
  const std::string folder = installFolder();
  if (removed_ && !folder.empty() && isFolder(folder))
    setFailure(kExitUninstallFailed, "the uninstallation left the product behind in " + folder);
}

void UninstallFlow::onCloseRequest(bool cancelButton) {
  if (runEnvironment().silent) {
    dialog_.endDialog();
    return;
  }
  dialog_.hide();
  if (removed_) {
    RunCommandLine(feedbackLine_);
  } else {
    cancelled_ = !removing_;
    commands::sendReport("uninstall", "canceled", cancelButton ? "sysbtn=0" : "sysbtn=1");
  }
  dialog_.endDialog();
}

}  // namespace lumo
