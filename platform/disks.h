// Local disks: what Windows calls the fixed drives. A file system counts
// when it is mounted read-write from a block device (or is a ZFS dataset),
// is not an optical or image file system, and its device does not say it is
// removable. Network file systems, memory and kernel file systems never
// count.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

struct MountEntry {
  std::string source;      // device, "server:/path", "tmpfs", ...
  std::string mountPoint;  // octal escapes of the mounts table decoded
  std::string type;
  std::string options;
};

// The lines of a mounts table (/proc/self/mounts format), in order.
std::vector<MountEntry> parseMounts(std::string_view table);

// Facts about the machine that the choice needs, replaceable in tests.
struct DiskProbe {
  // Free bytes available on the file system mounted there, or nothing when
  // they cannot be read.
  std::function<std::optional<std::uint64_t>(const std::string& mountPoint)> freeBytes;
  // Whether the block device is removable media.
  std::function<bool(const std::string& device)> removable;
};

// The probe of this machine: statvfs (all free bytes of the file system,
// reserved blocks included) and the "removable" attribute of the device in
// sysfs.
DiskProbe systemDiskProbe();

// True when the mount is a local, non-removable disk.
bool isLocalDisk(const MountEntry& mount, const DiskProbe& probe);

// The mount point of the local disk with the most free bytes; on equal
// space the one mounted first wins. A disk without free bytes is never
// chosen. When no mount of the table qualifies (a chroot whose table names
// only the host's mounts, a container whose root is an overlay), the root
// file system "/" stands in as the system drive if it has free bytes.
// Nothing when not even the root has free space.
std::optional<std::string> roomiestLocalDisk(const std::vector<MountEntry>& mounts, const DiskProbe& probe);

// The same for the mounts of this process (/proc/self/mounts).
std::optional<std::string> roomiestLocalDisk();

}  // namespace lumo
