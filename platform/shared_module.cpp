#include "platform/shared_module.h"

#include <dlfcn.h>

#include <cstdint>

#include "platform/debug_channel.h"

namespace lumo {

ModuleCall callModuleEntry(const std::string& path, const char* entry) {
  std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* module = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* why = ::dlerror();
    debugOutput("cannot load " + file + ": " + (why ? why : "unknown error"));
    return ModuleCall::NotLoaded;
  }
  using EntryPoint = std::int32_t (*)();
  auto function = reinterpret_cast<EntryPoint>(::dlsym(module, entry));
  ModuleCall outcome = ModuleCall::NoEntry;
  if (function) {
    std::int32_t result = function();
    debugOutput(std::string(entry) + " of " + file + " returned " + std::to_string(result));
    outcome = ModuleCall::Called;
  }
  ::dlclose(module);
  return outcome;
}

}  // namespace lumo
