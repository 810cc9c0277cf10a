// Where machine-wide and per-user files live. LUMO_SYSROOT, when set,
// relocates every machine-wide path under that folder, so that tests and
// sandboxes never touch the real system; per-user paths follow HOME and the
// XDG variables.
#pragma once

#include <string>
#include <string_view>

namespace lumo {

// `absolute` (for example "/var/lib/lumo") under LUMO_SYSROOT when it is set.
std::string machinePath(std::string_view absolute);

// Whether a resolved absolute path (symbolic links followed, as the system
// reports a program's path) belongs to the machine that this run changes:
// any path without LUMO_SYSROOT, and only paths inside it with it. Empty
// paths never belong to a sysroot.
bool isOnThisMachine(std::string_view resolvedPath);

// $HOME, or the password database's home folder when HOME is unset.
std::string homeFolder();

// $XDG_CONFIG_HOME, or $HOME/.config.
std::string userConfigFolder();

// $XDG_DATA_HOME, or $HOME/.local/share.
std::string userDataFolder();

// True when the process runs as root (machine-wide installation).
bool runsAsRoot();

}  // namespace lumo
