#include "platform/disks.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace lumo {
namespace {

// File systems on a block device that cannot hold a cache: read-only media
// images and optical discs.
constexpr std::string_view kNotDisks[] = {"iso9660", "udf", "squashfs", "erofs", "cramfs"};

// Fields of the mounts table escape blank, tab, newline and backslash as
// three octal digits ("\040").
std::string unescapeMountField(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      std::string_view digits = field.substr(i + 1, 3);
      if (digits.find_first_not_of("01234567") == std::string_view::npos) {
        out += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

bool hasOption(std::string_view options, std::string_view option) {
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = options.find(',', start);
    if (options.substr(start, comma - start) == option) return true;
    if (comma == std::string_view::npos) return false;
    start = comma + 1;
  }
}

std::string readFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

bool sysfsRemovable(const std::string& device) {
  char resolved[PATH_MAX];
  if (!::realpath(device.c_str(), resolved)) return false;
  std::string name = resolved;
  name = name.substr(name.rfind('/') + 1);
  // A partition has no "removable" attribute of its own; its disk is the
  // folder above it in sysfs.
  std::string block = "/sys/class/block/" + name;
  std::string own = readFirstLine(block + "/removable");
  if (!own.empty()) return own == "1";
  return readFirstLine(block + "/../removable") == "1";
}

}  // namespace

std::vector<MountEntry> parseMounts(std::string_view table) {
  std::vector<MountEntry> mounts;
  std::istringstream lines{std::string(table)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    MountEntry entry;
    if (!(fields >> entry.source >> entry.mountPoint >> entry.type >> entry.options)) continue;
    entry.source = unescapeMountField(entry.source);
    entry.mountPoint = unescapeMountField(entry.mountPoint);
    mounts.push_back(std::move(entry));
  }
  return mounts;
}

DiskProbe systemDiskProbe() {
  DiskProbe probe;
  probe.freeBytes = [](const std::string& mountPoint) -> std::optional<std::uint64_t> {
    struct statvfs info{};
    if (::statvfs(mountPoint.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.f_bfree) * info.f_frsize;
  };
  probe.removable = sysfsRemovable;
  return probe;
}

bool isLocalDisk(const MountEntry& mount, const DiskProbe& probe) {
  if (hasOption(mount.options, "ro")) return false;
  for (std::string_view type : kNotDisks)
    if (mount.type == type) return false;
  if (mount.type == "zfs") return true;  // datasets name a pool, not a device
  if (!mount.source.starts_with("/dev/")) return false;
  return !probe.removable(mount.source);
}

std::optional<std::string> roomiestLocalDisk(const std::vector<MountEntry>& mounts, const DiskProbe& probe) {
  std::optional<std::string> best;
  std::uint64_t bestFree = 0;
  for (const MountEntry& mount : mounts) {
    if (!isLocalDisk(mount, probe)) continue;
    // Container runtimes bind single files (/etc/hosts) from the disk.
    struct stat info{};
    if (::stat(mount.mountPoint.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
    std::optional<std::uint64_t> free = probe.freeBytes(mount.mountPoint);
    if (!free) continue;
    // A full disk is never chosen: only more than nothing counts.
    if (*free > bestFree) {
      best = mount.mountPoint;
      bestFree = *free;
    }
  }
  // Windows always has its system drive. A chroot's table names only the
  // host's mounts, and a container's root is an overlay: the root file
  // system is still a disk the machine writes to.
  if (!best) {
    std::optional<std::uint64_t> free = probe.freeBytes("/");
    if (free && *free > 0) best.emplace(1, '/');
  }
  return best;
}

std::optional<std::string> roomiestLocalDisk() {
  std::ifstream in("/proc/self/mounts");
  std::ostringstream table;
  table << in.rdbuf();
  return roomiestLocalDisk(parseMounts(table.str()), systemDiskProbe());
}

}  // namespace lumo
