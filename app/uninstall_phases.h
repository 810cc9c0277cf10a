// The uninstall dialog's run as a state machine: its phases, the events that
// move it, and the one transition function. The function decides; the flow
// (app/uninstall_flow.h) carries out the effects and feeds back the events.
#pragma once

#include <vector>

#include "app/install_phases.h"

namespace lumo {

enum class UninstallPhase {
  Starting,  // [uninstallinit] runs, then the installed check; no window yet
  Confirm,   // the question, the clear-user-data box, uninstall and cancel
  Removing,  // the bar follows [uninstall]
  Removed,   // the success text and OK
  Ending,    // the dialog is over; the run's last report is on its way
  Ended,
};

enum class UninstallEvent {
  InitWaitOver,      // [uninstallinit] ended, or its wait ran out
  UninstallPressed,
  CancelPressed,
  OkPressed,
  BoxToggled,        // clear the user's data too
  CloseRequested,    // the close button or the window system
  RemovalDone,       // msg_removed at 100
  Closing,           // msg_close at 100
  CloseTimer,
  WorkersIdle,
  ReportsDone,
};

enum class UninstallEffect {
  AskNotInstalled,
  RefuseFolder,           // the record names a folder that is no product folder
  ShowWindow,
  ShowFace,
  Hide,
  StartRemoval,           // rmuserdata from the box; [uninstall] after a pause
  RefreshDesktop,
  NoteFeedbackVersion,    // read now: [uninstall] may delete the working script
  OpenFeedback,
  ReportCanceledByButton, // uninstall|canceled, sysbtn=0
  ReportCanceledBySystem, // sysbtn=1: the close button or the window system
  StartCloseTimer,
  StopCloseTimer,
  EndDialog,
  Quit,
};

struct UninstallFacts {
  bool silent = false;
  bool installed = false;  // the earlier installation's folder holds the product
  bool folderRefused = false;  // the record names a folder that is there but no product folder
};

struct UninstallState {
  UninstallPhase phase = UninstallPhase::Starting;
  bool clearUserData = false;
  bool closeTimer = false;
  bool completed = false;
  bool cancelled = false;
  bool removalOver = false;  // the removal's section ended without completing it
};

struct UninstallStep {
  UninstallState state;
  std::vector<UninstallEffect> effects;
};

// The one transition function. Throws NoTransition.
UninstallStep nextUninstallStep(const UninstallState& state, UninstallEvent event, const UninstallFacts& facts);

const char* phaseName(UninstallPhase phase);
const char* eventName(UninstallEvent event);

int exitStatus(const UninstallState& state);

}  // namespace lumo
