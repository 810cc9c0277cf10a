// The install wizard's run as a state machine: its phases, the events that
// move it, and the one transition function. The function decides; the flow
// (app/install_flow.h) carries out the effects and feeds back the events.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace lumo {

enum class InstallPhase {
  Starting,      // [installinit] runs; no window yet
  Options,       // folder, agreement, run-after box, offers, install button
  NewerVersion,  // a newer version is installed: open it, or install anyway
  Installing,    // the bar follows [install] and [installok]
  RollingBack,   // the bar follows [installfailed]
  Finished,      // the install button starts the product
  Hidden,        // the run goes on without a window until it closes
  Ending,        // the dialog is over; the run's last reports are on their way
  Ended,
};

enum class InstallEvent {
  InitWaitOver,          // [installinit] ended, or its wait ran out
  InstallPressed,        // the install button (the Finished face's starts the product)
  ContinuePressed,       // "继续安装>>": installs anyway
  OpenInstalledPressed,  // the newer-version button
  LicensePressed,
  AgreementToggled,
  ChoiceToggled,         // the run-after box or an offer
  FolderChosen,
  CloseRequested,        // the close button or the window system
  ExitConfirmed,
  ExitDeclined,
  InstallFinished,       // 2022, NotifyOK
  InstallFailed,         // 2021, a command failed
  Completed,             // msg_complete at 100
  RolledBack,            // msg_cancel_complete at 0
  Closing,               // msg_close at 100
  CloseTimer,
  ProductStarted,
  ProductFailed,
  WorkersIdle,           // the last running section ended
  ReportsDone,           // nothing the run sent is still on its way
};

enum class InstallEffect {
  ShowWindow,            // the first face, once initialisation is over
  ShowFace,
  Hide,
  StartInstall,          // the chosen folder becomes $INSTALL; [install]
  RefuseFolder,          // says why the folder cannot be installed into
  StartInstallOk,
  LogInstallOkIgnored,
  StartRollback,
  StartCloseTimer,
  StopCloseTimer,
  RefreshDesktop,        // file associations changed
  WriteChoice,           // autorun or softcheckN
  SetFolder,
  OpenLicense,
  AskExit,               // answered with ExitConfirmed or ExitDeclined
  AskFailure,            // the final failure box with the log path
  AskRunFailed,
  StartProduct,          // answered with ProductStarted or ProductFailed
  OpenInstalledProduct,
  ReportCanceled,        // install|canceled
  ReportComplete0,       // install|complete, setuprun=0: finished, the product not started
  ReportComplete1,       // setuprun=1: the script starts the product
  ReportComplete2,       // setuprun=2: the user started it
  ReportFailed,
  RemoveNotifyIcon,
  EndDialog,             // the window goes; the run ends once its reports are sent
  Quit,
};

// What the decisions read besides the phase.
struct InstallFacts {
  bool silent = false;
  bool autorun = false;          // the script's autorun is "1" now
  bool installedIsNewer = false;
  bool folderRefused = false;    // $INSTALL cannot be installed into
};

struct InstallState {
  InstallPhase phase = InstallPhase::Starting;
  bool visible = false;          // the window is on the screen
  bool agreed = true;            // the agreement box
  bool installOkStarted = false; // [installok] runs once per run
  bool closeTimer = false;
  bool owesCloseReport = false;  // finished, and the product was not started
  bool completed = false;
  bool cancelled = false;
  bool failed = false;
};

struct InstallStep {
  InstallState state;
  std::vector<InstallEffect> effects;
};

// An event that has no transition in its phase: the flows never send it
// there, so this is a fault of the program.
class NoTransition : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// The one transition function. Throws NoTransition.
InstallStep nextInstallStep(const InstallState& state, InstallEvent event, const InstallFacts& facts);

const char* phaseName(InstallPhase phase);
const char* eventName(InstallEvent event);

// Exit status of a run in `state` (app/exit_status.h).
int exitStatus(const InstallState& state);

}  // namespace lumo
