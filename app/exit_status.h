// Exit statuses of the process.
#pragma once

namespace lumo {

inline constexpr int kExitOk = 0;               // success, or a cancelled run
inline constexpr int kExitInstallFailed = 1;    // the installation ended in the failure flow
inline constexpr int kExitBadCommandLine = 2;   // a wrong command line (reason and usage on stderr)
inline constexpr int kExitIncomplete = 3;       // the sections ended without completing the run
inline constexpr int kExitNoDisplay = 4;        // a non-silent start could not open a window
inline constexpr int kExitDamaged = 5;          // a resource of the installer fails its checksum
inline constexpr int kExitUninstallFailed = 6;  // the uninstallation was refused or left the product behind
inline constexpr int kExitStartupFailed = 7;    // no working script could be found or copied
inline constexpr int kExitAnotherRunning = 8;   // another installer holds the single-instance lock
inline constexpr int kExitNotInstalled = 9;     // an uninstallation found nothing installed
// 10 and 11 belong to the installation check and its repair.

}  // namespace lumo
