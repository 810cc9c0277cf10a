// Self-registering components: a shared library loaded into the installer's
// process for the length of one call of an entry point without arguments
// (the DllRegisterServer / DllUnregisterServer convention).
#pragma once

#include <string>

namespace lumo {

enum class ModuleCall {
  Called,     // the module loaded and the entry point ran
  NotLoaded,  // the module could not be loaded
  NoEntry,    // it loaded but does not export the entry point
};

// Loads the module at `path`, calls its exported function `entry` (declared
// in the module as extern "C" with no parameters, returning a 32-bit result
// code that nobody examines) and unloads it. A path without a "/" names a
// file in the current folder, never one of the library search path.
ModuleCall callModuleEntry(const std::string& path, const char* entry);

}  // namespace lumo
