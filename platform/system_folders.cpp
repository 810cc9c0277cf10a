#include "platform/system_folders.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/disks.h"
#include "platform/file_operations.h"
#include "platform/sysroot.h"
#include "platform/text.h"

namespace lumo {
namespace {

// The hierarchy's folders and the children it names. A record, a script or
// a planted link that points an installation at one of them must not make
// its removal take the system with it.
constexpr std::string_view kStandardFolders[] = {
    "/", "/bin", "/boot", "/dev", "/etc", "/etc/opt", "/etc/xdg", "/home", "/lib", "/lib32", "/lib64", "/libx32",
    "/lost+found", "/media", "/mnt", "/opt", "/proc", "/root", "/run", "/sbin", "/srv", "/sys", "/tmp", "/usr",
    "/usr/bin", "/usr/games", "/usr/include", "/usr/lib", "/usr/lib32", "/usr/lib64", "/usr/libexec", "/usr/libx32",
    "/usr/local", "/usr/local/bin", "/usr/local/etc", "/usr/local/games", "/usr/local/include", "/usr/local/lib",
    "/usr/local/libexec", "/usr/local/man", "/usr/local/sbin", "/usr/local/share", "/usr/local/src", "/usr/sbin",
    "/usr/share", "/usr/share/applications", "/usr/share/doc", "/usr/share/icons", "/usr/share/man",
    "/usr/share/mime", "/usr/src", "/var", "/var/backups", "/var/cache", "/var/crash", "/var/games", "/var/lib",
    "/var/local", "/var/lock", "/var/log", "/var/mail", "/var/opt", "/var/run", "/var/spool", "/var/tmp",
};

}  // namespace

bool isStandardSystemFolder(const std::string& folder) {
  std::string text = folder;
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  for (std::string_view standard : kStandardFolders) {
    if (text == standard || text == resolvedPath(machinePath(standard))) return true;
  }
  return false;
}

bool isMountPoint(const std::string& folder) {
  std::ifstream table("/proc/self/mounts");
  std::ostringstream content;
  content << table.rdbuf();
  for (const MountEntry& mount : parseMounts(content.str())) {
    if (mount.mountPoint == folder) return true;
  }
  // A table that a chroot does not show still leaves the device change.
  struct stat own{};
  struct stat parent{};
  if (::stat(folder.c_str(), &own) != 0 || ::stat((folder + "/..").c_str(), &parent) != 0) return false;
  return own.st_dev != parent.st_dev;
}

std::optional<std::string> whyNotProductFolder(const std::string& folder, std::string_view productName) {
  if (!folder.starts_with('/')) return "\"" + folder + "\" is not an absolute path";
  const std::string resolved = resolvedPath(folder);
  // Letter case aside, as the folder's owner on the other system would see it.
  const std::string ending = "/" + std::string(productName);
  const std::string_view tail =
      std::string_view(resolved).substr(resolved.size() - std::min(resolved.size(), ending.size()));
  if (!equalsIgnoreCase(tail, ending)) {
    return resolved + " is not a " + std::string(productName) + " folder (its name is not \"" +
           std::string(productName) + "\")";
  }
  if (isStandardSystemFolder(resolved)) return resolved + " is a standard folder of the system";
  if (isMountPoint(resolved)) return resolved + " is a mount point";
  return std::nullopt;
}

}  // namespace lumo
