#include "app/install_flow.h"

#include <functional>

#include "app/exit_status.h"
#include "commands/process.h"
#include "commands/statistics.h"
#include "platform/debug_channel.h"
#include "platform/desktop_entry.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "script/decimal.h"
#include "script/dispatcher.h"
#include "script/execution_log.h"
#include "script/install_folder.h"
#include "script/install_recorder.h"
#include "script/product_identity.h"
#include "script/run_environment.h"
#include "script/script_error.h"

namespace lumo {
namespace {

constexpr std::string_view kConfirmExitCaption = "退出安装";
constexpr std::string_view kFolderRefusedText = "无法安装到这个文件夹，请选择其他文件夹：\n";
constexpr std::string_view kFailureCaption = "安装失败";
// What a dry run calls the wizard's own steps that change the machine.
constexpr std::string_view kDryRunSection = "wizard";

// The texts that name the product.
std::string confirmExitText(const ProductIdentity& product) { return "您确定要退出 " + product.name + " 安装程序吗？"; }
std::string runFailedText(const ProductIdentity& product) { return "暂时无法启动" + product.name + "："; }
std::string failureText(const ProductIdentity& product) {
  return "抱歉! " + product.name + "安装过程中遇到问题并且无法修复，安装即将退出！\n安装日志详细描述了错误原因，请参考:";
}

// The next "."-ended component of a version text, read as a number.
int nextComponent(std::string_view& text) {
  std::size_t dot = text.find('.');
  std::string_view component = text.substr(0, dot);
  text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  return readDecimal(component);
}

// The report's line is logged now, in its place among the sections' lines;
// the report itself goes aside.
std::function<void()> report(std::string_view result, std::string_view extension = {}) {
  std::string arguments = commands::logReport("install", result, extension);
  if (runEnvironment().dryRun) {
    printDryRunLine(kDryRunSection, 0, "SendLog", arguments);
    return [] {};
  }
  return [arguments = std::move(arguments)] { commands::deliverReport(arguments); };
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

std::string productFolderIn(std::string_view chosen) {
  std::string folder(chosen);
  if (!folder.ends_with('/')) folder += '/';
  return folder + productIdentity().folder;
}

InstallFlow::InstallFlow(DialogThread& thread, Timers& timers, FlowTimings timings)
    : DialogFlow(thread, timers, timings) {}

void InstallFlow::start() {
  SectionList init;
  ReadSection("[installinit]", init);
  ReadSection("[install]", install_);
  startInit(kExecInstallInit, std::move(init), timings_.installInitWait);
}

void InstallFlow::onInitWaitOver() {
  // A record that names no product folder is no earlier installation: the
  // [install] lines that remove the old folder must not reach it.
  dropUnfitEarlierInstallFolder();
  // An earlier installation's folder is kept when it exists and is a
  // folder of this product; otherwise the default folder.
  // A folder the command line chose counts over both, as the user's choice
  // in the wizard would.
  const ProductIdentity product = productIdentity();
  const std::string installed = earlierInstallFolder();
  if (!runEnvironment().targetFolder.empty()) {
    setInstallFolder(runEnvironment().targetFolder);
  } else {
    setInstallFolder(pathFileExists(installed) && installed.find("/" + product.folder) != std::string::npos
                         ? installed
                         : runEnvironment().programFiles + "/" + product.folder);
  }
  installedIsNewer_ = IsInstalledNewer(GetVariable("realversion"));
  for (int number = 1; number <= 3; ++number) {
    const std::string n = std::to_string(number);
    if (GetVariable("softcheck" + n) != "1") continue;
    std::string name = GetVariable("softname" + n);
    if (!name.empty()) offers_.push_back(Offer{number, std::move(name), true});
  }
  balloonsEnabled_ = GetVariable("notifyicon") == "1";
  product_ = product.name;
  title_ = product.name + GetVariable("app_version") + "安装程序";
  handle(InstallEvent::InitWaitOver);
}

InstallFacts InstallFlow::facts() const {
  // Only a phase that may start the installation asks about the folder.
  const InstallPhase phase = state_.phase;
  const bool choosing = phase == InstallPhase::Starting || phase == InstallPhase::Options ||
                        phase == InstallPhase::NewerVersion;
  return InstallFacts{.silent = runEnvironment().silent,
                      .autorun = GetVariable("autorun") == "1",
                      .installedIsNewer = installedIsNewer_,
                      .folderRefused = choosing && whyNotInstallFolder(installFolder()).has_value()};
}

InstallFace InstallFlow::face() const {
  // An ending run has no window to show, however it ended.
  const bool over = state_.phase == InstallPhase::Ending || state_.phase == InstallPhase::Ended;
  InstallFace face{.phase = state_.phase,
                   .visible = state_.visible && !over,
                   .title = title_,
                   .product = product_,
                   .folder = installFolder(),
                   .agreed = state_.agreed,
                   .autorun = GetVariable("autorun") == "1",
                   .offers = offers_,
                   .notifyIcon = notifyIcon_};
  for (Offer& offer : face.offers) offer.checked = GetVariable("softcheck" + std::to_string(offer.number)) == "1";
  return face;
}

void InstallFlow::deliver(const Intent& intent) {
  intent_ = intent;
  switch (intent.kind) {
    case Intent::InstallPressed: handle(InstallEvent::InstallPressed); break;
    case Intent::ContinuePressed: handle(InstallEvent::ContinuePressed); break;
    case Intent::OpenInstalledPressed: handle(InstallEvent::OpenInstalledPressed); break;
    case Intent::LicensePressed: handle(InstallEvent::LicensePressed); break;
    case Intent::AgreementToggled: handle(InstallEvent::AgreementToggled); break;
    case Intent::AutorunToggled:
    case Intent::OfferToggled: handle(InstallEvent::ChoiceToggled); break;
    case Intent::FolderChosen: handle(InstallEvent::FolderChosen); break;
    case Intent::CloseRequested: handle(InstallEvent::CloseRequested); break;
    default: reportTransitionFault("install: an intent of the uninstall dialog"); break;
  }
}

void InstallFlow::onEndText(EndText text) {
  switch (text) {
    case EndText::Complete: handle(InstallEvent::Completed); break;
    case EndText::CancelComplete:
      // Rolled back, the installation is gone, and so is its record.
      discardInstallRecord();
      handle(InstallEvent::RolledBack);
      break;
    case EndText::Close: handle(InstallEvent::Closing); break;
    case EndText::Removed:
      // Only the uninstall dialog ends with it; the desktop still rereads
      // the associations it may have changed.
      if (!runEnvironment().dryRun) refreshDesktopDatabase(runEnvironment().smPrograms);
      break;
    case EndText::None: break;
  }
}

void InstallFlow::onBalloon(const std::string& title, const std::string& text) {
  if (balloonsEnabled_ && notifyIcon_ && window_) window_->showBalloon(title, text);
}

void InstallFlow::handle(InstallEvent event) {
  pending_.push_back(event);
  if (handling_) return;  // an effect's answer follows the effects before it
  handling_ = true;
  while (!pending_.empty()) {
    const InstallEvent next = pending_.front();
    pending_.erase(pending_.begin());
    try {
      InstallStep step = nextInstallStep(state_, next, facts());
      state_ = step.state;
      for (InstallEffect effect : step.effects) apply(effect);
    } catch (const NoTransition& fault) {
      reportTransitionFault(fault.what());
    }
  }
  handling_ = false;
  settle();
}

void InstallFlow::apply(InstallEffect effect) {
  using E = InstallEffect;
  switch (effect) {
    case E::ShowWindow:
    case E::ShowFace:
    case E::Hide:
      if (window_) window_->show(face());
      break;
    case E::StartInstall:
      if (equalsIgnoreCase(installFolder(), earlierInstallFolder())) SetVariable("replacesetup", "1");
      startSection(kExecInstall, std::move(install_));
      break;
    case E::RefuseFolder: {
      const std::string why = whyNotInstallFolder(installFolder()).value_or("");
      LogWarning("The installation folder is refused: " + why);
      ask(Question{.id = "install.folder-refused",
                   .text = std::string(kFolderRefusedText) + why,
                   .caption = installerCaption(),
                   .buttons = {Button::Ok},
                   .icon = Icon::Warning});
      if (runEnvironment().silent) setFailure(kExitIncomplete, "the installation folder is refused: " + why);
      break;
    }
    case E::StartInstallOk: {
      SectionList installOk;
      ReadSection("[installok]", installOk);
      startSection(kExecInstallOK, std::move(installOk));
      break;
    }
    case E::LogInstallOkIgnored: Log("NotifyOK: [installok] has already been started; ignored\r\n"); break;
    case E::StartRollback: {
      SectionList rollback;
      ReadSection("[installfailed]", rollback);
      startSection(kExecInstallFailed, std::move(rollback));
      break;
    }
    case E::StartCloseTimer: startCloseTimer([this] { handle(InstallEvent::CloseTimer); }); break;
    case E::StopCloseTimer: stopCloseTimer(); break;
    case E::RefreshDesktop:
      if (!runEnvironment().dryRun) refreshDesktopDatabase(runEnvironment().smPrograms);
      break;
    case E::WriteChoice:
      if (intent_.kind == Intent::AutorunToggled) {
        SetVariable("autorun", GetVariable("autorun") == "1" ? "" : "1");
      } else {
        const std::string name = "softcheck" + std::to_string(intent_.offer);
        SetVariable(name, GetVariable(name) == "1" ? "0" : "1");
      }
      break;
    case E::SetFolder:
      if (!intent_.folder.empty()) setInstallFolder(productFolderIn(intent_.folder));
      break;
    case E::OpenLicense: sendAside([address = GetVariable("license_url")] { commands::openUrl(address, "ie"); }); break;
    case E::AskExit: {
      const Button answer = ask(Question{.id = "install.confirm-exit",
                                         .text = confirmExitText(productIdentity()),
                                         .caption = std::string(kConfirmExitCaption),
                                         .buttons = {Button::Yes, Button::No},
                                         .defaultButton = Button::No,
                                         .silentAnswer = Button::Yes,
                                         .icon = Icon::Information});
      handle(answer == Button::Yes ? InstallEvent::ExitConfirmed : InstallEvent::ExitDeclined);
      break;
    }
    case E::AskFailure:
      ask(Question{.id = "install.failed",
                   .text = failureText(productIdentity()) + runEnvironment().logPath,
                   .caption = std::string(kFailureCaption),
                   .buttons = {Button::Ok},
                   .icon = Icon::Error});
      break;
    case E::AskRunFailed:
      if (runFailure_.empty()) break;  // not a script's error: nothing to tell
      ask(Question{.id = "install.run-failed",
                   .text = runFailedText(productIdentity()) + runFailure_,
                   .caption = installerCaption(),
                   .buttons = {Button::Ok},
                   .icon = Icon::Warning});
      break;
    case E::StartProduct:
      runFailure_.clear();
      try {
        // The script's spelling: "\\" is a separator there too.
        const std::string program = installFolder() + "\\" + productIdentity().mainProgram;
        logCommandLine("Run", program + "||0|show");
        if (runEnvironment().dryRun) {
          printDryRunLine(kDryRunSection, 0, "Run", program + "||0|show");
        } else {
          commands::runProgram(program, "", 0, true);
        }
        handle(InstallEvent::ProductStarted);
      } catch (const ScriptError& error) {
        runFailure_ = error.what();
        handle(InstallEvent::ProductFailed);
      } catch (...) {
        handle(InstallEvent::ProductFailed);
      }
      break;
    case E::OpenInstalledProduct: {
      // The installed version is newer: the user gets it instead of this one.
      std::string product = nativePath(GetVariable("installdir"));
      if (!product.ends_with('/')) product += '/';
      product += productIdentity().mainProgram;
      if (runEnvironment().dryRun) {
        printDryRunLine(kDryRunSection, 0, "Run", product + "||0|show");
      } else if (auto plan = planStart(product, "", runEnvironment().system)) {
        startProcess(*plan, true);
      }
      break;
    }
    case E::ReportCanceled: sendAside(report("canceled")); break;
    case E::ReportComplete0: sendAside(report("complete", "setuprun=0")); break;
    case E::ReportComplete1: sendAside(report("complete", "setuprun=1")); break;
    case E::ReportComplete2: sendAside(report("complete", "setuprun=2")); break;
    case E::ReportFailed: sendAside(report("failed")); break;
    case E::RemoveNotifyIcon: notifyIcon_ = false; break;
    case E::EndDialog:
      stopCloseTimer();
      if (window_) window_->show(face());
      break;
    case E::Quit: thread_.quit(); break;
  }
}

}  // namespace lumo
