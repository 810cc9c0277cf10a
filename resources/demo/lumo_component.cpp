// The demo product's components (LumoCodec.dll, LumoRender.dll, LumoNet.dll,
// LumoShell.dll): one source built four times. Registering a component
// records its class and the module's path in the registry store, as an
// in-process server's registration does; unregistering removes them again.
#include <dlfcn.h>

#include <string>

#include "formats/registry_store.h"

#ifndef LUMO_COMPONENT_NAME
#error "LUMO_COMPONENT_NAME must name the component"
#endif
#ifndef LUMO_COMPONENT_CLSID
#error "LUMO_COMPONENT_CLSID must give the component's class id"
#endif

namespace {

constexpr long kOk = 0;         // S_OK
constexpr long kFailed = 0x80004005L;  // E_FAIL

const std::string kClassKey = std::string("CLSID\\") + LUMO_COMPONENT_CLSID;
const std::string kProgId = std::string("LumoPlayer.") + LUMO_COMPONENT_NAME;

std::string modulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&modulePath), &info) == 0 || !info.dli_fname) return {};
  return info.dli_fname;
}

bool writeString(const std::string& path, const std::string& name, const std::string& text) {
  lumo::RegistryResult<lumo::RegistryKey> key = lumo::createKey(lumo::RegistryRoot::ClassesRoot, path);
  return key && lumo::setString(*key, name, text);
}

// Deletes the keys deepest first; a key that is already gone counts as done.
bool deleteKeys(std::initializer_list<std::string> paths) {
  bool ok = true;
  for (const std::string& path : paths) {
    lumo::RegistryResult<> deleted = lumo::deleteKey(lumo::RegistryRoot::ClassesRoot, path);
    ok = ok && (deleted || deleted.failure().status == lumo::RegistryStatus::NotFound);
  }
  return ok;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) long DllRegisterServer() {
  std::string path = modulePath();
  bool ok = !path.empty() && writeString(kClassKey, "", kProgId) &&
            writeString(kClassKey + "\\InprocServer32", "", path) &&
            writeString(kClassKey + "\\InprocServer32", "ThreadingModel", "Apartment") &&
            writeString(kProgId + "\\CLSID", "", LUMO_COMPONENT_CLSID);
  return ok ? kOk : kFailed;
}

extern "C" __attribute__((visibility("default"))) long DllUnregisterServer() {
  return deleteKeys({kClassKey + "\\InprocServer32", kClassKey, kProgId + "\\CLSID", kProgId}) ? kOk : kFailed;
}
