// The run environment: everything start-up computes about this run. It is
// written on the main thread before any worker starts (and the install
// folder on the dialog thread before each worker starts); workers only read.
#pragma once

#include <string>

namespace lumo {

struct RunEnvironment {
  // Folders behind the script's "$" macros. Machine-wide ones move under
  // LUMO_SYSROOT when it is set; per-user ones follow HOME and XDG_*.
  std::string install;      // $INSTALL, no trailing separator; empty until chosen
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

  std::string interfaceFont;
  std::string systemName;   // sent in statistics reports
  int fontScale = 10;
};

// The one run environment of the process. Header-only, so that the script
// engine and the commands read it without linking the start-up code.
inline RunEnvironment& runEnvironment() {
  static RunEnvironment environment;
  return environment;
}

}  // namespace lumo
