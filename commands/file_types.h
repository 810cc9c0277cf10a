// File associations on the Linux desktop. A script associates a file type
// as it would on Windows, in HKEY_CLASSES_ROOT: ".zmv" names a type key
// ("Vexta.zmv"), whose "shell\open\command" is the program line ("... "%1"")
// and whose own default value and "DefaultIcon" give its name and icon.
// After every change of HKEY_CLASSES_ROOT the desktop is brought in line with
// the store: each type that has both an extension and an open command gets a
// shared-mime-info package (the glob "*.zmv" for the MIME type
// application/x-zmv) and a desktop entry that opens it, hidden from menus,
// both named "lumo-" and the type key's name in the programs menu's data
// folder; those whose association is gone are removed; the MIME and desktop
// databases are refreshed where something changed.
#pragma once

#include "script/run_environment.h"

namespace lumo::commands {

// For the run whose programs menu is `environment.smPrograms`.
void updateDesktopFileTypes(const RunEnvironment& environment);

}  // namespace lumo::commands
