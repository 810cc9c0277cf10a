// Run orchestration: which script section runs when, on which thread, and
// the flows of success, failure with rollback, and uninstallation.
#pragma once

namespace lumo {

// Exit statuses of the process.
inline constexpr int kExitOk = 0;               // success, cancelled, or a second instance
inline constexpr int kExitInstallFailed = 1;    // the installation ended in the failure flow
inline constexpr int kExitStartupFailed = 2;    // no working script could be found

// Runs the dialog of the mode (install wizard or uninstall dialog) until it
// closes. Returns the exit status of the run.
int runModeDialog();

}  // namespace lumo
