// The run environment: everything start-up computes about this run. It is
// written on the main thread before any worker starts; workers only read.
// The install folder is the exception: the dialog sets it while a worker may
// be reading it, so it lives apart, behind a lock.
#pragma once

#include <string>

namespace lumo {

struct RunEnvironment {
  // Folders behind the script's "$" macros. Machine-wide ones move under
  // LUMO_SYSROOT when it is set; per-user ones follow HOME and XDG_*.
  std::string kernel;       // $KERNEL, shared data folder of the product family
  std::string desktop;      // $DESKTOP, desktop common to all users
  std::string curDesktop;   // $CURDESKTOP, the user's own desktop
  std::string system;       // $SYSTEM
  std::string curPath;      // $CURPATH, folder of the executable, ending in "/"
  std::string iniPath;      // $INIPATH, the working script
  std::string smPrograms;   // $SMPROGRAMS, the user's programs menu
  std::string installer;    // $INSTALLER, path of the running executable
  std::string appData;      // $APPDATA
  std::string tempDir;      // temporary folder, ending in "/"
  std::string programFiles; // default parent of the install folder
  std::string logPath;

  bool installMode = true;  // false with "-uinst"
  bool silent = false;
  // "--dry-run": lines that change the machine are printed, not run.
  bool dryRun = false;
  // "--target": the install folder the command line chose (the product
  // folder at its end); empty for the earlier or the default one.
  std::string targetFolder;
  // "--no-launch": the product is not started after the installation.
  bool noLaunch = false;

  std::string interfaceFont;
  std::string systemName;   // sent in statistics reports
  int fontScale = 10;
};

// The one run environment of the process.
RunEnvironment& runEnvironment();

// $INSTALL, without a trailing separator; empty until chosen. The dialog
// sets it while the worker of an init section that outlived its wait may be
// expanding a line, so both sides go through one lock.
std::string installFolder();
void setInstallFolder(const std::string& folder);

}  // namespace lumo
