#include <gtest/gtest.h>

#include <vector>

#include "app/install_phases.h"
#include "app/uninstall_phases.h"

namespace lumo {
namespace {

using IP = InstallPhase;
using IE = InstallEvent;
using IX = InstallEffect;

InstallState at(IP phase, bool visible = true) {
  InstallState state;
  state.phase = phase;
  state.visible = visible;
  return state;
}

InstallState with(InstallState state, void (*change)(InstallState&)) {
  change(state);
  return state;
}

constexpr InstallFacts kWindowed{};
constexpr InstallFacts kSilent{.silent = true};

// The faces of the install wizard and how each is left.
TEST(InstallPhases, EachFaceIsLeftAsTheWizardShowsIt) {
  const struct {
    const char* name;
    InstallState from;
    IE event;
    InstallFacts facts;
    IP to;
    std::vector<IX> effects;
  } cases[] = {
      {"silent start installs at once", at(IP::Starting, false), IE::InitWaitOver, kSilent, IP::Installing,
       {IX::StartInstall, IX::ShowFace}},
      {"the options show after the init wait", at(IP::Starting, false), IE::InitWaitOver, kWindowed, IP::Options,
       {IX::ShowWindow}},
      {"a newer installed version", at(IP::Starting, false), IE::InitWaitOver, {.installedIsNewer = true},
       IP::NewerVersion, {IX::ShowWindow}},
      {"install", at(IP::Options), IE::InstallPressed, kWindowed, IP::Installing, {IX::StartInstall, IX::ShowFace}},
      {"a refused folder keeps the options", at(IP::Options), IE::InstallPressed, {.folderRefused = true},
       IP::Options, {IX::RefuseFolder}},
      {"a silent run has no other folder", at(IP::Starting, false), IE::InitWaitOver,
       {.silent = true, .folderRefused = true}, IP::Ending, {IX::RefuseFolder, IX::RemoveNotifyIcon, IX::EndDialog}},
      {"install anyway", at(IP::NewerVersion), IE::ContinuePressed, kWindowed, IP::Installing,
       {IX::StartInstall, IX::ShowFace}},
      {"open the installed version", at(IP::NewerVersion), IE::OpenInstalledPressed, kWindowed, IP::Ending,
       {IX::OpenInstalledProduct, IX::ReportCanceled, IX::EndDialog}},
      {"closing the options asks", at(IP::Options), IE::CloseRequested, kWindowed, IP::Options, {IX::AskExit}},
      {"yes ends the run", at(IP::Options), IE::ExitConfirmed, kWindowed, IP::Ending,
       {IX::ReportCanceled, IX::EndDialog}},
      {"no keeps the options", at(IP::Options), IE::ExitDeclined, kWindowed, IP::Options, {}},
      {"the box writes the choice", at(IP::Options), IE::ChoiceToggled, kWindowed, IP::Options,
       {IX::WriteChoice, IX::ShowFace}},
      {"close requests are ignored while installing", at(IP::Installing), IE::CloseRequested, kWindowed,
       IP::Installing, {}},
      {"NotifyOK starts [installok]", at(IP::Installing), IE::InstallFinished, kWindowed, IP::Installing,
       {IX::StartInstallOk}},
      {"a second NotifyOK is logged and ignored",
       with(at(IP::Installing), [](InstallState& s) { s.installOkStarted = true; }), IE::InstallFinished, kWindowed,
       IP::Installing, {IX::LogInstallOkIgnored}},
      {"complete with autorun hides", at(IP::Installing), IE::Completed, {.autorun = true}, IP::Hidden,
       {IX::RefreshDesktop, IX::ReportComplete1, IX::Hide}},
      {"complete shows the finished face", at(IP::Installing), IE::Completed, kWindowed, IP::Finished,
       {IX::RefreshDesktop, IX::ShowFace}},
      {"the finished face starts the product", at(IP::Finished), IE::InstallPressed, kWindowed, IP::Finished,
       {IX::StartProduct}},
      {"the product started", at(IP::Finished), IE::ProductStarted, kWindowed, IP::Hidden,
       {IX::ReportComplete2, IX::Hide}},
      {"the product failed", at(IP::Finished), IE::ProductFailed, kWindowed, IP::Hidden,
       {IX::AskRunFailed, IX::Hide}},
      {"closing the finished face hides it", at(IP::Finished), IE::CloseRequested, kWindowed, IP::Hidden,
       {IX::Hide}},
      {"the close timer waits for a visible wizard",
       with(at(IP::Finished), [](InstallState& s) { s.closeTimer = true; }), IE::CloseTimer, kWindowed, IP::Finished,
       {}},
      {"the close timer ends a hidden one that owes its report",
       with(at(IP::Hidden, false),
            [](InstallState& s) {
              s.closeTimer = true;
              s.owesCloseReport = true;
            }),
       IE::CloseTimer, kWindowed, IP::Ending,
       {IX::StopCloseTimer, IX::RemoveNotifyIcon, IX::ReportComplete0, IX::EndDialog}},
      {"a failure rolls back", at(IP::Installing), IE::InstallFailed, kWindowed, IP::RollingBack,
       {IX::StopCloseTimer, IX::StartRollback, IX::ShowFace}},
      {"a failure of the rollback ends the run", at(IP::RollingBack), IE::InstallFailed, kWindowed, IP::Ending,
       {IX::Hide, IX::ReportFailed, IX::AskFailure, IX::RemoveNotifyIcon, IX::EndDialog}},
      {"the rollback's end", at(IP::RollingBack), IE::RolledBack, kWindowed, IP::Ending,
       {IX::RefreshDesktop, IX::Hide, IX::ReportFailed, IX::AskFailure, IX::RemoveNotifyIcon, IX::EndDialog}},
      {"a silent run ends with its last worker", at(IP::Installing, false), IE::WorkersIdle, kSilent, IP::Ending,
       {IX::RemoveNotifyIcon, IX::EndDialog}},
      {"a windowed one waits for its user", at(IP::Installing), IE::WorkersIdle, kWindowed, IP::Installing, {}},
      {"the closing text starts the close delay", at(IP::Hidden, false), IE::Closing, kWindowed, IP::Hidden,
       {IX::StartCloseTimer}},
      {"a silent run waits no close delay", at(IP::Installing, false), IE::Closing, kSilent, IP::Installing, {}},
      {"the ending waits for its reports", at(IP::Ending, false), IE::ReportsDone, kWindowed, IP::Ended, {IX::Quit}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const InstallStep step = nextInstallStep(c.from, c.event, c.facts);
    EXPECT_EQ(phaseName(step.state.phase), std::string(phaseName(c.to)));
    EXPECT_EQ(step.effects, c.effects);
  }
}

TEST(InstallPhases, TheExitStatusFollowsHowTheRunEnded) {
  InstallState state = at(IP::Installing);
  EXPECT_EQ(exitStatus(state), 3);  // the sections ended without completing
  state = nextInstallStep(state, IE::Completed, kWindowed).state;
  EXPECT_EQ(exitStatus(state), 0);
  state = nextInstallStep(state, IE::InstallFailed, kWindowed).state;
  EXPECT_EQ(exitStatus(state), 1);  // a rollback after completion is still a failure
  EXPECT_EQ(exitStatus(nextInstallStep(at(IP::Options), IE::ExitConfirmed, kWindowed).state), 0);
}

// Every phase either moves on an event or refuses it as a fault; once the
// dialog is over, whatever still arrives is dropped.
TEST(InstallPhases, AnEventWithoutATransitionIsAFault) {
  const struct {
    InstallState from;
    IE event;
  } faults[] = {
      {at(IP::Starting, false), IE::InstallPressed},
      {at(IP::Starting, false), IE::CloseRequested},
      {with(at(IP::Options), [](InstallState& s) { s.agreed = false; }), IE::InstallPressed},
      {at(IP::Installing), IE::InstallPressed},
      {at(IP::Installing), IE::InitWaitOver},
      {at(IP::Options), IE::ProductStarted},
      {at(IP::Installing), IE::AgreementToggled},
      {at(IP::Installing), IE::ReportsDone},
  };
  for (const auto& f : faults) {
    EXPECT_THROW(nextInstallStep(f.from, f.event, kWindowed), NoTransition)
        << eventName(f.event) << " in " << phaseName(f.from.phase);
  }
  for (IP over : {IP::Ending, IP::Ended}) {
    for (int e = 0; e <= static_cast<int>(IE::ReportsDone); ++e) {
      const auto event = static_cast<IE>(e);
      if (event == IE::ReportsDone) continue;
      InstallStep step = nextInstallStep(at(over, false), event, kWindowed);
      EXPECT_EQ(step.state.phase, over) << eventName(event);
      EXPECT_TRUE(step.effects.empty()) << eventName(event);
    }
  }
}

using UP = UninstallPhase;
using UE = UninstallEvent;
using UX = UninstallEffect;

UninstallState at(UP phase) {
  UninstallState state;
  state.phase = phase;
  return state;
}

// The faces of the uninstall dialog and how each is left.
TEST(UninstallPhases, EachFaceIsLeftAsTheDialogShowsIt) {
  const UninstallFacts windowed{.installed = true};
  const UninstallFacts silent{.silent = true, .installed = true};
  UninstallState ticked = at(UP::Confirm);
  ticked.clearUserData = true;
  UninstallState stalled = at(UP::Removing);  // the section ended without the removal done
  stalled.removalOver = true;
  const struct {
    const char* name;
    UninstallState from;
    UE event;
    UninstallFacts facts;
    UP to;
    std::vector<UX> effects;
  } cases[] = {
      {"nothing installed", at(UP::Starting), UE::InitWaitOver, {}, UP::Ending, {UX::AskNotInstalled, UX::EndDialog}},
      {"a record that is no product folder", at(UP::Starting), UE::InitWaitOver,
       {.installed = true, .folderRefused = true}, UP::Ending, {UX::RefuseFolder, UX::EndDialog}},
      {"confirm", at(UP::Starting), UE::InitWaitOver, windowed, UP::Confirm, {UX::ShowWindow}},
      {"silent removes at once", at(UP::Starting), UE::InitWaitOver, silent, UP::Removing,
       {UX::StartRemoval, UX::ShowFace}},
      {"the box only changes the face", at(UP::Confirm), UE::BoxToggled, windowed, UP::Confirm, {UX::ShowFace}},
      {"uninstall", ticked, UE::UninstallPressed, windowed, UP::Removing, {UX::StartRemoval, UX::ShowFace}},
      {"cancel", at(UP::Confirm), UE::CancelPressed, windowed, UP::Ending,
       {UX::Hide, UX::ReportCanceledByButton, UX::EndDialog}},
      {"close on confirm", at(UP::Confirm), UE::CloseRequested, windowed, UP::Ending,
       {UX::Hide, UX::ReportCanceledBySystem, UX::EndDialog}},
      {"close requests wait while the removal runs", at(UP::Removing), UE::CloseRequested, windowed, UP::Removing,
       {}},
      {"a removal's section that ends leaves it closable", at(UP::Removing), UE::WorkersIdle, windowed,
       UP::Removing, {}},
      {"the window system ends a removal that stalled", stalled, UE::CloseRequested, windowed, UP::Ending,
       {UX::Hide, UX::ReportCanceledBySystem, UX::EndDialog}},
      {"removed", at(UP::Removing), UE::RemovalDone, windowed, UP::Removed,
       {UX::RefreshDesktop, UX::NoteFeedbackVersion, UX::ShowFace}},
      {"removed, silently", at(UP::Removing), UE::RemovalDone, silent, UP::Ending,
       {UX::RefreshDesktop, UX::NoteFeedbackVersion, UX::ShowFace, UX::EndDialog}},
      {"a second removal text keeps the first version", at(UP::Removed), UE::RemovalDone, windowed, UP::Removed, {}},
      {"OK opens the feedback page", at(UP::Removed), UE::OkPressed, windowed, UP::Ending,
       {UX::Hide, UX::OpenFeedback, UX::EndDialog}},
      {"so does close", at(UP::Removed), UE::CloseRequested, windowed, UP::Ending,
       {UX::Hide, UX::OpenFeedback, UX::EndDialog}},
      {"a silent run ends with its last worker", at(UP::Removing), UE::WorkersIdle, silent, UP::Ending,
       {UX::EndDialog}},
      {"a silent run waits no close delay", at(UP::Removing), UE::Closing, silent, UP::Removing, {}},
      {"a second OK is late", at(UP::Ending), UE::OkPressed, windowed, UP::Ending, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const UninstallStep step = nextUninstallStep(c.from, c.event, c.facts);
    EXPECT_EQ(phaseName(step.state.phase), std::string(phaseName(c.to)));
    EXPECT_EQ(step.effects, c.effects);
  }
  EXPECT_TRUE(nextUninstallStep(at(UP::Confirm), UE::BoxToggled, windowed).state.clearUserData);
  EXPECT_EQ(exitStatus(nextUninstallStep(at(UP::Confirm), UE::CancelPressed, windowed).state), 0);
  EXPECT_TRUE(nextUninstallStep(at(UP::Removing), UE::WorkersIdle, windowed).state.removalOver);
  EXPECT_EQ(exitStatus(nextUninstallStep(stalled, UE::CloseRequested, windowed).state), 3);
  for (const auto& [phase, event] : {std::pair{UP::Removing, UE::OkPressed}, std::pair{UP::Removed, UE::CancelPressed},
                                     std::pair{UP::Removing, UE::BoxToggled}, std::pair{UP::Confirm, UE::InitWaitOver}}) {
    EXPECT_THROW(nextUninstallStep(at(phase), event, windowed), NoTransition) << eventName(event);
  }
}

}  // namespace
}  // namespace lumo
