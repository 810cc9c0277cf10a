#include "platform/sysroot.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace lumo {
namespace {

std::string envOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : fallback;
}

}  // namespace

std::string machinePath(std::string_view absolute) {
  std::string root = envOr("LUMO_SYSROOT", "");
  while (!root.empty() && root.back() == '/') root.pop_back();
  return root + std::string(absolute);
}

bool isOnThisMachine(std::string_view resolvedPath) {
  const std::string root = envOr("LUMO_SYSROOT", "");
  if (root.empty()) return true;
  std::error_code error;
  const std::filesystem::path resolvedRoot = std::filesystem::weakly_canonical(root, error);
  if (error || resolvedPath.empty()) return false;
  const std::string prefix = resolvedRoot.string() == "/" ? "/" : resolvedRoot.string() + "/";
  return resolvedPath.starts_with(prefix);
}

std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::string userConfigFolder() { return envOr("XDG_CONFIG_HOME", homeFolder() + "/.config"); }

std::string userDataFolder() { return envOr("XDG_DATA_HOME", homeFolder() + "/.local/share"); }

bool runsAsRoot() { return ::geteuid() == 0; }

}  // namespace lumo
