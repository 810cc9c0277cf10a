#include "script/run_environment.h"

#include <mutex>

namespace lumo {
namespace {

std::mutex installFolderMutex;
std::string installFolderValue;

}  // namespace

RunEnvironment& runEnvironment() {
  static RunEnvironment environment;
  return environment;
}

std::string installFolder() {
  std::lock_guard lock(installFolderMutex);
  return installFolderValue;
}

void setInstallFolder(const std::string& folder) {
  std::lock_guard lock(installFolderMutex);
  installFolderValue = folder;
}

}  // namespace lumo
