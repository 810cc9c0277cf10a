#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/disks.h"
#include "platform/text.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::TempDir;

// Whatever the machine's mount table holds (a chroot's names only the
// host's mounts), the command stores a folder of this machine.
TEST(GetMaxDisk, StoresAFolderOfThisMachine) {
  TempDir dir;
  test::useWorkingScript(dir / "lumo_install.ini", "[var]\nmaxdisk=unset\n");
  callCommand(currentCommandContext(), "GetMaxDisk", "ignored->maxdisk");
  std::string drive = GetVariable("maxdisk");
  ASSERT_NE(drive, "unset");  // the root file system stands in for a missing disk
  // The root file system is stored as the empty text: "@maxdisk\cache" is then "/cache".
  EXPECT_TRUE(std::filesystem::is_directory(drive.empty() ? "/" : drive)) << drive;
  EXPECT_FALSE(drive.ends_with("/"));
}

TEST(GetMaxDisk, RequiresTheOutputOperator) {
  try {
    callCommand(currentCommandContext(), "GetMaxDisk", "maxdisk");
    ADD_FAILURE() << "no error";
  } catch (const ScriptError& error) {
    EXPECT_STREQ(error.what(), "[GetMaxDisk] Invalid arguments (Missing operator '->' ): maxdisk");
  }
}

TEST(GetMaxDisk, ChoosesTheRoomiestLocalDisk) {
  TempDir dir;
  struct Mount {
    std::string source;
    std::string point;  // below the temporary folder; "\040" is a blank
    std::string type;
    std::optional<std::uint64_t> free;
    std::string options = "rw,relatime";
  };
  struct Case {
    const char* name;
    std::vector<Mount> mounts;
    std::optional<std::string> expected;
    std::optional<std::uint64_t> rootFree = std::nullopt;  // free bytes of "/", which no table line names
  } cases[] = {
      {"the only disk", {{"/dev/sda1", "a", "ext4", 10}}, "a"},
      {"more free space wins", {{"/dev/sda1", "a", "ext4", 10}, {"/dev/sdb1", "b", "xfs", 20}}, "b"},
      {"on equal space the first mounted wins", {{"/dev/sdb1", "b", "xfs", 20}, {"/dev/sdc1", "c", "btrfs", 20}}, "b"},
      {"network, memory, optical, image, removable and read-only mounts never count",
       {{"/dev/sda1", "a", "ext4", 5},
        {"server:/export", "b", "nfs4", 100},
        {"//server/share", "c", "cifs", 100},
        {"tmpfs", "d", "tmpfs", 100},
        {"/dev/sr0", "e", "iso9660", 100},
        {"/dev/loop3", "f", "squashfs", 100},
        {"/dev/sdz1", "g", "vfat", 100},  // removable
        {"/dev/sdd1", "h", "ext4", 100, "ro,relatime"},
        {"me@host:", "i", "fuse.sshfs", 100}},
       "a"},
      {"ZFS datasets are disks", {{"/dev/sda1", "a", "ext4", 5}, {"tank/home", "b", "zfs", 50}}, "b"},
      {"escaped blanks in mount points", {{"/dev/sda1", "with\\040blank", "ext4", 7}}, "with blank"},
      {"a full disk is never chosen", {{"/dev/sda1", "a", "ext4", 0}}, std::nullopt},
      {"a disk whose space cannot be read is skipped",
       {{"/dev/sda9", "c", "ext4", std::nullopt}, {"/dev/sda1", "a", "ext4", 1}}, "a"},
      {"a file bound into place is no disk", {{"/dev/sda1", "a/x", "ext4", 99}}, std::nullopt},
      {"no disk at all", {{"proc", "a", "proc", 0}}, std::nullopt},
      {"a chroot's table names only the host's mounts: the root file system stands in",
       {{"/dev/sda1", "host/boot", "ext4", 100}, {"proc", "a", "proc", 0}}, "/", 30},
      {"a disk of the table wins over the root", {{"/dev/sda1", "a", "ext4", 1}}, "a", 30},
      {"not even the root has free space", {{"proc", "a", "proc", 0}}, std::nullopt, 0},
  };
  for (const char* name : {"a", "b", "c", "d", "e", "f", "g", "h", "i", "with blank"})
    test::writeFile((dir / name) + "/x", "");
  for (const Case& c : cases) {
    std::string table;
    std::map<std::string, std::uint64_t> freeSpace;
    for (const Mount& m : c.mounts) {
      table += m.source + " " + (dir / m.point) + " " + m.type + " " + m.options + " 0 0\n";
      if (m.free) freeSpace[dir / replaceAll(m.point, "\\040", " ")] = *m.free;
    }
    if (c.rootFree) freeSpace["/"] = *c.rootFree;
    DiskProbe probe;
    probe.freeBytes = [&](const std::string& mountPoint) -> std::optional<std::uint64_t> {
      auto found = freeSpace.find(mountPoint);
      if (found == freeSpace.end()) return std::nullopt;
      return found->second;
    };
    probe.removable = [](const std::string& device) { return device == "/dev/sdz1"; };
    std::optional<std::string> expected;
    if (c.expected) expected = *c.expected == "/" ? "/" : dir / *c.expected;
    EXPECT_EQ(roomiestLocalDisk(parseMounts(table), probe), expected) << c.name;
  }
}

}  // namespace
}  // namespace lumo
