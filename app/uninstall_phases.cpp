#include "app/uninstall_phases.h"

#include <string>

#include "app/exit_status.h"

namespace lumo {
namespace {

using enum UninstallPhase;
using enum UninstallEvent;
using E = UninstallEffect;

[[noreturn]] void noTransition(const UninstallState& state, UninstallEvent event) {
  throw NoTransition(std::string("uninstall: no transition for ") + eventName(event) + " in " +
                     phaseName(state.phase));
}

void end(UninstallStep& step) {
  step.effects.push_back(E::EndDialog);
  step.state.phase = Ending;
}

}  // namespace

UninstallStep nextUninstallStep(const UninstallState& state, UninstallEvent event, const UninstallFacts& facts) {
  UninstallStep step{state, {}};
  UninstallState& s = step.state;
  const UninstallPhase phase = state.phase;
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
      if (phase != Starting) noTransition(state, event);
      if (facts.folderRefused) {
        // Removing it would take what is not ours: the run fails.
        step.effects = {E::RefuseFolder};
        end(step);
      } else if (!facts.installed) {
        // Asked in silent runs too: nothing is removed and nobody would know why.
        s.cancelled = true;
        step.effects = {E::AskNotInstalled};
        end(step);
      } else if (facts.silent) {
        s.phase = Removing;
        step.effects = {E::StartRemoval, E::ShowFace};
      } else {
        s.phase = Confirm;
        step.effects = {E::ShowWindow};
      }
      return step;

    case UninstallPressed:
      if (phase != Confirm) noTransition(state, event);
      s.phase = Removing;
      step.effects = {E::StartRemoval, E::ShowFace};
      return step;

    case BoxToggled:
      // Only the box changes: rmuserdata is written when the removal starts.
      if (phase != Confirm) noTransition(state, event);
      s.clearUserData = !state.clearUserData;
      step.effects = {E::ShowFace};
      return step;

    case CancelPressed:
    case CloseRequested:
      if (phase == Removing && !state.removalOver) {
        // Closing now would abandon the removal half done: close requests
        // wait, as the install wizard's do while it installs.
        return step;
      }
      if (phase == Confirm || phase == Removing) {
        // A removal whose section ended without completing it can still be
        // closed; it is then no cancel.
        s.cancelled = phase == Confirm;
        step.effects = {E::Hide, event == CancelPressed ? E::ReportCanceledByButton : E::ReportCanceledBySystem};
        end(step);
      } else if (phase == Removed && event == CloseRequested) {
        step.effects = {E::Hide, E::OpenFeedback};
        end(step);
      } else {
        noTransition(state, event);
      }
      return step;

    case OkPressed:
      if (phase != Removed) noTransition(state, event);
      step.effects = {E::Hide, E::OpenFeedback};
      end(step);
      return step;

    case RemovalDone:
      if (phase != Removing) return step;  // the version of the first stays
      s.completed = true;
      s.phase = Removed;
      step.effects = {E::RefreshDesktop, E::NoteFeedbackVersion, E::ShowFace};
      // A silent run shows nothing, removes, and ends without the page.
      if (facts.silent) end(step);
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
      // The dialog is never hidden while it runs: only a silent one closes.
      if (state.closeTimer && facts.silent) {
        s.closeTimer = false;
        step.effects = {E::StopCloseTimer};
        end(step);
      }
      return step;

    case WorkersIdle:
      if (facts.silent && !state.closeTimer && phase != Starting) end(step);
      if (phase == Removing) s.removalOver = true;
      return step;

    case ReportsDone:
      noTransition(state, event);
  }
  noTransition(state, event);
}

int exitStatus(const UninstallState& state) {
  if (state.completed || state.cancelled) return kExitOk;
  return kExitIncomplete;
}

const char* phaseName(UninstallPhase phase) {
  switch (phase) {
    case Starting: return "starting";
    case Confirm: return "confirm";
    case Removing: return "removing";
    case Removed: return "removed";
    case Ending: return "ending";
    case Ended: return "ended";
  }
  return "?";
}

const char* eventName(UninstallEvent event) {
  switch (event) {
    case InitWaitOver: return "init wait over";
    case UninstallPressed: return "uninstall pressed";
    case CancelPressed: return "cancel pressed";
    case OkPressed: return "ok pressed";
    case BoxToggled: return "box toggled";
    case CloseRequested: return "close requested";
    case RemovalDone: return "removal done";
    case Closing: return "closing";
    case CloseTimer: return "close timer";
    case WorkersIdle: return "workers idle";
    case ReportsDone: return "reports done";
  }
  return "?";
}

}  // namespace lumo
