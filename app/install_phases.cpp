#include "app/install_phases.h"

#include "app/exit_status.h"

namespace lumo {
namespace {

using enum InstallPhase;
using enum InstallEvent;
using E = InstallEffect;

bool over(InstallPhase phase) { return phase == Ending || phase == Ended; }
bool choosing(InstallPhase phase) { return phase == Options || phase == NewerVersion; }

// The window is gone or going: clicks that were on their way are late.
bool lateClick(InstallPhase phase) { return phase == Hidden || over(phase); }

// A hidden dialog closes: the notification icon goes, a finished run whose
// product was not started says so, and the dialog ends.
void closeHidden(InstallStep& step) {
  step.effects.push_back(E::RemoveNotifyIcon);
  if (step.state.owesCloseReport) step.effects.push_back(E::ReportComplete0);
  step.effects.push_back(E::EndDialog);
  step.state.phase = Ending;
  step.state.visible = false;
}

// The run cannot be repaired: the window goes, the failure is reported and
// the final box names the log before the dialog ends.
void endWithFailure(InstallStep& step, bool associationsChanged) {
  step.state.failed = true;
  if (associationsChanged) step.effects.push_back(E::RefreshDesktop);
  step.effects.insert(step.effects.end(), {E::Hide, E::ReportFailed, E::AskFailure});
  closeHidden(step);
}

[[noreturn]] void noTransition(const InstallState& state, InstallEvent event) {
  throw NoTransition(std::string("install: no transition for ") + eventName(event) + " in " + phaseName(state.phase));
}

}  // namespace

InstallStep nextInstallStep(const InstallState& state, InstallEvent event, const InstallFacts& facts) {
  InstallStep step{state, {}};
  InstallState& s = step.state;
  const InstallPhase phase = state.phase;
  if (phase == Ended) return step;  // whatever still arrives is dropped
  if (phase == Ending) {
    if (event == ReportsDone) {
      s.phase = Ended;
      step.effects.push_back(E::Quit);
    }
    return step;
  }

  switch (event) {
    case InitWaitOver:
      if (phase == Starting && facts.silent && facts.folderRefused) {
        // A silent run has no other folder to offer.
        step.effects = {E::RefuseFolder};
        closeHidden(step);
      } else if (phase == Starting && facts.silent) {
        s.phase = Installing;
        step.effects = {E::StartInstall, E::ShowFace};
      } else if (phase == Starting) {
        s.phase = facts.installedIsNewer ? NewerVersion : Options;
        s.visible = true;
        step.effects = {E::ShowWindow};
      } else if (phase == RollingBack) {
        // [installinit] failed: the rollback runs instead of the options.
        if (!facts.silent) {
          s.visible = true;
          step.effects = {E::ShowWindow};
        }
      } else {
        noTransition(state, event);
      }
      return step;

    case InstallPressed:
      if (phase == Options && state.agreed && facts.folderRefused) {
        step.effects = {E::RefuseFolder};  // the wizard stays for another choice
      } else if (phase == Options && state.agreed) {
        s.phase = Installing;
        step.effects = {E::StartInstall, E::ShowFace};
      } else if (phase == Finished) {
        step.effects = {E::StartProduct};
      } else if (!lateClick(phase)) {
        noTransition(state, event);
      }
      return step;

    case ContinuePressed:
      if (phase == NewerVersion && state.agreed && facts.folderRefused) {
        step.effects = {E::RefuseFolder};
      } else if (phase == NewerVersion && state.agreed) {
        s.phase = Installing;
        step.effects = {E::StartInstall, E::ShowFace};
      } else if (!lateClick(phase)) {
        noTransition(state, event);
      }
      return step;

    case OpenInstalledPressed:
      if (phase == NewerVersion) {
        s.cancelled = true;
        step.effects = {E::OpenInstalledProduct, E::ReportCanceled, E::EndDialog};
        s.phase = Ending;
      } else if (!lateClick(phase)) {
        noTransition(state, event);
      }
      return step;

    case LicensePressed:
    case AgreementToggled:
    case ChoiceToggled:
    case FolderChosen:
      if (choosing(phase)) {
        if (event == LicensePressed) step.effects = {E::OpenLicense};
        if (event == AgreementToggled) {
          s.agreed = !state.agreed;
          step.effects = {E::ShowFace};
        }
        if (event == ChoiceToggled) step.effects = {E::WriteChoice, E::ShowFace};
        if (event == FolderChosen) step.effects = {E::SetFolder, E::ShowFace};
      } else if (!lateClick(phase)) {
        noTransition(state, event);
      }
      return step;

    case CloseRequested:
      if (choosing(phase)) {
        step.effects = {E::AskExit};
      } else if (phase == Finished) {
        // The close timer ends the hidden wizard after msg_close.
        s.phase = Hidden;
        s.visible = false;
        step.effects = {E::Hide};
      } else if (phase == Starting) {
        noTransition(state, event);
      }
      // Installing and rolling back: the close button is disabled and the
      // window system's requests are ignored.
      return step;

    case ExitConfirmed:
      s.cancelled = true;
      s.phase = Ending;
      step.effects = {E::ReportCanceled, E::EndDialog};
      return step;

    case ExitDeclined:
      return step;

    case InstallFinished:
      // [installok] itself may say NotifyOK: restarting it would repeat the
      // completion (and its reports) for ever.
      if (state.installOkStarted) {
        step.effects = {E::LogInstallOkIgnored};
      } else {
        s.installOkStarted = true;
        step.effects = {E::StartInstallOk};
      }
      return step;

    case InstallFailed:
      if (phase == RollingBack) {
        // The rollback itself failed: nothing more runs.
        endWithFailure(step, false);
      } else {
        // A line after msg_close may fail: the close timer must not end the
        // run in the middle of the rollback. A hidden wizard stays hidden.
        s.failed = true;
        s.phase = RollingBack;
        s.closeTimer = false;
        step.effects = {E::StopCloseTimer, E::StartRollback, E::ShowFace};
      }
      return step;

    case Completed:
      if (phase != Installing) return step;  // only an installation completes, once
      s.completed = true;
      step.effects = {E::RefreshDesktop};
      if (facts.autorun) {
        // The script starts the product itself.
        s.phase = Hidden;
        s.visible = false;
        step.effects.insert(step.effects.end(), {E::ReportComplete1, E::Hide});
      } else {
        s.phase = Finished;
        s.owesCloseReport = true;
        step.effects.push_back(E::ShowFace);
      }
      return step;

    case RolledBack:
      endWithFailure(step, true);
      return step;

    case Closing:
      // The delay lets the user read the closing text. A silent run shows
      // nothing: it ends when its last section does (WorkersIdle), so a
      // failure after the closing text still gets its rollback.
      if (facts.silent) return step;
      s.closeTimer = true;
      step.effects = {E::StartCloseTimer};
      return step;

    case CloseTimer:
      // A visible dialog waits for its user; the timer closes it once hidden.
      // A silent dialog is never shown.
      if (state.closeTimer && (facts.silent || !state.visible)) {
        s.closeTimer = false;
        step.effects = {E::StopCloseTimer};
        closeHidden(step);
      }
      return step;

    case ProductStarted:
    case ProductFailed:
      if (phase != Finished) noTransition(state, event);
      s.phase = Hidden;
      s.visible = false;
      if (event == ProductStarted) {
        s.owesCloseReport = false;
        step.effects = {E::ReportComplete2, E::Hide};
      } else {
        step.effects = {E::AskRunFailed, E::Hide};
      }
      return step;

    case WorkersIdle:
      // A silent run has nobody to close it: when its sections are over
      // without the text that closes the dialog, it ends with its last one.
      if (facts.silent && !state.closeTimer && phase != Starting) closeHidden(step);
      return step;

    case ReportsDone:
      noTransition(state, event);
  }
  noTransition(state, event);
}

int exitStatus(const InstallState& state) {
  if (state.failed) return kExitInstallFailed;
  if (state.completed || state.cancelled) return kExitOk;
  return kExitIncomplete;
}

const char* phaseName(InstallPhase phase) {
  switch (phase) {
    case Starting: return "starting";
    case Options: return "options";
    case NewerVersion: return "newer version";
    case Installing: return "installing";
    case RollingBack: return "rolling back";
    case Finished: return "finished";
    case Hidden: return "hidden";
    case Ending: return "ending";
    case Ended: return "ended";
  }
  return "?";
}

const char* eventName(InstallEvent event) {
  switch (event) {
    case InitWaitOver: return "init wait over";
    case InstallPressed: return "install pressed";
    case ContinuePressed: return "continue pressed";
    case OpenInstalledPressed: return "open installed pressed";
    case LicensePressed: return "license pressed";
    case AgreementToggled: return "agreement toggled";
    case ChoiceToggled: return "choice toggled";
    case FolderChosen: return "folder chosen";
    case CloseRequested: return "close requested";
    case ExitConfirmed: return "exit confirmed";
    case ExitDeclined: return "exit declined";
    case InstallFinished: return "install finished";
    case InstallFailed: return "install failed";
    case Completed: return "completed";
    case RolledBack: return "rolled back";
    case Closing: return "closing";
    case CloseTimer: return "close timer";
    case ProductStarted: return "product started";
    case ProductFailed: return "product failed";
    case WorkersIdle: return "workers idle";
    case ReportsDone: return "reports done";
  }
  return "?";
}

}  // namespace lumo
