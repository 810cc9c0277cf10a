#include "app/uninstall_flow.h"

#include "app/exit_status.h"
#include "commands/statistics.h"
#include "platform/debug_channel.h"
#include "platform/desktop_entry.h"
#include "platform/file_operations.h"
#include "script/dispatcher.h"
#include "script/expansion.h"
#include "script/install_folder.h"
#include "script/install_recorder.h"
#include "script/product_identity.h"
#include "script/run_environment.h"

namespace lumo {
namespace {

std::string notInstalledText(const ProductIdentity& product) { return "您未安装或已经卸载了" + product.name + "！"; }
std::string folderRefusedText(const ProductIdentity& product) {
  return product.name + "的安装记录指向的文件夹不能卸载：\n";
}
// What a dry run calls the dialog's own steps that change the machine.
constexpr std::string_view kDryRunSection = "uninstaller";

}  // namespace

UninstallFlow::UninstallFlow(DialogThread& thread, Timers& timers, FlowTimings timings)
    : DialogFlow(thread, timers, timings) {}

void UninstallFlow::start() {
  SectionList init;
  ReadSection("[uninstallinit]", init);
  ReadSection("[uninstall]", uninstall_);
  startInit(kExecUnInstallInit, std::move(init), timings_.uninstallInitWait);
}

void UninstallFlow::onInitWaitOver() {
  const std::string recorded = earlierInstallFolder();
  std::optional<std::string> why = dropUnfitEarlierInstallFolder();
  // A record of a folder that is gone leaves nothing to remove: the
  // installation is simply not there. One that is there but is no product
  // folder is refused, in silent runs too.
  if (why && pathFileExists(recorded)) refusal_ = *why;
  const std::string folder = earlierInstallFolder();
  if (refusal_.empty()) setInstallFolder(folder);
  const ProductIdentity product = productIdentity();
  installed_ = pathFileExists(folder) && pathFileExists(folder + "/" + product.mainProgram);
  product_ = product.name;
  title_ = product.name + GetVariable("app_version") + "卸载程序";
  handle(UninstallEvent::InitWaitOver);
}

UninstallFacts UninstallFlow::facts() const {
  return UninstallFacts{.silent = runEnvironment().silent, .installed = installed_, .folderRefused = !refusal_.empty()};
}

UninstallFace UninstallFlow::face() const {
  return UninstallFace{.phase = state_.phase,
                       .visible = state_.phase == UninstallPhase::Confirm ||
                                  state_.phase == UninstallPhase::Removing || state_.phase == UninstallPhase::Removed,
                       .title = title_,
                       .product = product_,
                       .clearUserData = state_.clearUserData};
}

void UninstallFlow::deliver(const Intent& intent) {
  switch (intent.kind) {
    case Intent::UninstallPressed: handle(UninstallEvent::UninstallPressed); break;
    case Intent::CancelPressed: handle(UninstallEvent::CancelPressed); break;
    case Intent::OkPressed: handle(UninstallEvent::OkPressed); break;
    case Intent::BoxToggled: handle(UninstallEvent::BoxToggled); break;
    case Intent::CloseRequested: handle(UninstallEvent::CloseRequested); break;
    default: reportTransitionFault("uninstall: an intent of the install wizard"); break;
  }
}

void UninstallFlow::beforeExit() {
  const std::string folder = installFolder();
  // A dry run removes nothing; the folder is meant to stay. Nor is a folder
  // kept for the user's own files a product left behind.
  if (state_.completed && !runEnvironment().dryRun && !folder.empty() && isFolder(folder) &&
      !installRecordKeptFolder(resolvedPath(folder, false))) {
    setFailure(kExitUninstallFailed, "the uninstallation left the product behind in " + folder);
  }
  if (state_.completed) discardInstallRecord();
}

void UninstallFlow::onEndText(EndText text) {
  switch (text) {
    case EndText::Removed: handle(UninstallEvent::RemovalDone); break;
    case EndText::Close: handle(UninstallEvent::Closing); break;
    case EndText::Complete: break;  // the end of an installation ends nothing here
    case EndText::CancelComplete:
      // Nor does the end of a rollback; the desktop still rereads the
      // associations it may have changed.
      if (!runEnvironment().dryRun) refreshDesktopDatabase(runEnvironment().smPrograms);
      break;
    case EndText::None: break;
  }
}

void UninstallFlow::onBalloon(const std::string& title, const std::string& text) {
  if (window_) window_->showBalloon(title, text);
}

void UninstallFlow::handle(UninstallEvent event) {
  pending_.push_back(event);
  if (handling_) return;  // an effect's answer follows the effects before it
  handling_ = true;
  while (!pending_.empty()) {
    const UninstallEvent next = pending_.front();
    pending_.erase(pending_.begin());
    try {
      UninstallStep step = nextUninstallStep(state_, next, facts());
      state_ = step.state;
      for (UninstallEffect effect : step.effects) apply(effect);
    } catch (const NoTransition& fault) {
      reportTransitionFault(fault.what());
    }
  }
  handling_ = false;
  settle();
}

void UninstallFlow::apply(UninstallEffect effect) {
  using E = UninstallEffect;
  switch (effect) {
    case E::AskNotInstalled:
      ask(Question{.id = "uninstall.not-installed",
                   .text = notInstalledText(productIdentity()),
                   .caption = installerCaption(),
                   .buttons = {Button::Ok},
                   .icon = Icon::Warning});
      setFailure(kExitNotInstalled, "nothing is installed to uninstall");
      break;
    case E::RefuseFolder:
      ask(Question{.id = "uninstall.folder-refused",
                   .text = folderRefusedText(productIdentity()) + refusal_,
                   .caption = installerCaption(),
                   .buttons = {Button::Ok},
                   .icon = Icon::Error});
      setFailure(kExitUninstallFailed, "the recorded installation folder is refused: " + refusal_);
      break;
    case E::ShowWindow:
    case E::ShowFace:
    case E::Hide:
      if (window_) window_->show(face());
      break;
    case E::StartRemoval:
      SetVariable("rmuserdata", state_.clearUserData ? "1" : "0");
      // The removing face gets its moment on screen before the section
      // starts; the dialog thread keeps serving meanwhile.
      startSectionAfter(timings_.uninstallStartPause, kExecUninstall, std::move(uninstall_));
      break;
    case E::RefreshDesktop:
      if (!runEnvironment().dryRun) refreshDesktopDatabase(runEnvironment().smPrograms);
      break;
    case E::NoteFeedbackVersion:
      // [uninstall] may delete the working script after it has reported the
      // removal (the default script does), long before the user closes the
      // dialog: the version for the feedback page is read while it is there.
      feedbackAddress_ = productIdentity().feedbackUrl;
      if (!Expand(feedbackAddress_)) feedbackAddress_.clear();
      break;
    case E::OpenFeedback:
      if (feedbackAddress_.empty()) break;
      if (runEnvironment().dryRun) {
        printDryRunLine(kDryRunSection, 0, "OpenUrl", feedbackAddress_ + "|ie");
        break;
      }
      sendAside([address = feedbackAddress_] { commands::openUrl(address, "ie"); });
      break;
    case E::ReportCanceledByButton:
    case E::ReportCanceledBySystem: {
      // Logged now, in order; sent aside.
      const std::string arguments = commands::logReport(
          "uninstall", "canceled", effect == E::ReportCanceledByButton ? "sysbtn=0" : "sysbtn=1");
      if (runEnvironment().dryRun) {
        printDryRunLine(kDryRunSection, 0, "SendLog", arguments);
        break;
      }
      sendAside([arguments] { commands::deliverReport(arguments); });
      break;
    }
    case E::StartCloseTimer: startCloseTimer([this] { handle(UninstallEvent::CloseTimer); }); break;
    case E::StopCloseTimer: stopCloseTimer(); break;
    case E::EndDialog:
      stopCloseTimer();
      if (window_) window_->show(face());
      break;
    case E::Quit: thread_.quit(); break;
  }
}

}  // namespace lumo
