// The single-instance guard: a named lock that the kernel releases when the
// process ends, however it ends. It is an flock on "<name>.lock" in
// $XDG_RUNTIME_DIR (per user, like a session's named mutex), or in the
// temporary folder when that variable is unset. A machine-wide run (root)
// also takes "<name>.lock" in /run (under LUMO_SYSROOT when set), which
// every session shares, like a global named mutex; /run is root's alone, so
// no other user can hold that lock to keep installers out.
#pragma once

#include <string>
#include <string_view>

namespace lumo {

// The file that carries the lock of that name.
std::string instanceLockPath(std::string_view name);

// The file that carries the machine-wide lock of that name.
std::string machineInstanceLockPath(std::string_view name);

// Takes the lock (and for root the machine-wide one too) and keeps it until
// the process ends. False when another process holds either. When the lock file cannot be opened at all, the run goes
// on unguarded (true): refusing every start would be worse.
bool acquireInstanceLock(std::string_view name);

}  // namespace lumo
