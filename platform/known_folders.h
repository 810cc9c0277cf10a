// The folders behind the script's "$" macros, for a machine-wide run (root)
// and for a normal user. Machine-wide folders move under LUMO_SYSROOT when it
// is set; per-user folders follow HOME and the XDG variables. None of them
// ends in "/" except the temporary folder.
#pragma once

#include <string>

namespace lumo {

struct SpecialFolders {
  std::string programFiles;  // default parent of the install folder
  std::string kernel;        // shared data folder of the product family
  std::string desktop;       // desktop common to all users
  std::string curDesktop;    // the user's own desktop
  std::string system;        // system programs
  std::string smPrograms;    // programs menu (.desktop entries)
  std::string appData;       // application data: the user's, or /etc/xdg machine-wide
  std::string tempDir;       // ends in "/"
};

SpecialFolders specialFolders(bool machineWide);

// $TMPDIR, or /tmp, with "/" at the end.
std::string temporaryFolder();

// The user's desktop: XDG_DESKTOP_DIR from the environment or from
// user-dirs.dirs in the config folder, else $HOME/Desktop.
std::string userDesktopFolder();

// Creates the folder and all its parents; true when it exists afterwards.
bool makeFolders(const std::string& path);

}  // namespace lumo
