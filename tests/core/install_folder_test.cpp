// Which folders a run may install into or remove, and which values the
// working script refuses to carry.
#include <gtest/gtest.h>

#include <filesystem>

#include "formats/profile_file.h"
#include "platform/system_folders.h"
#include "script/install_folder.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::ScopedEnv;
using test::TempDir;

TEST(InstallFolder, OnlyAFolderTheScriptGivesBackUnchangedIsAccepted) {
  TempDir root;
  ScopedEnv sysroot("LUMO_SYSROOT", root.path());
  const std::string base = root / "opt";
  const struct {
    std::string folder;
    bool accepted;
  } cases[] = {
      {base + "/Vexta", true},
      {base + "/影音 文件/Vexta", true},
      {base + "/søren/Vexta", false},                 // outside GBK
      {base + "/\xff\xfe/Vexta", false},              // not UTF-8
      {base + "/" + std::string(300, 'a') + "/Vexta", false},  // longer than a value
      {base + "/a$KERNEL/Vexta", false},
      {base + "/srv@x/Vexta", false},
      {base + "/a#b/Vexta", false},
      {base + "/a|b/Vexta", false},
      {base + "/a->b/Vexta", false},
      {base + "/a\\b/Vexta", false},
      {base + "/a\r\n[uninstall]/Vexta", false},
      {base + "/Vexta ", false},
      {base + "/Player", false},                      // not a product folder
      {base + "/Vexta/..", false},
      {"Vexta", false},                               // relative
  };
  for (const auto& c : cases) {
    std::optional<std::string> why = whyNotInstallFolder(c.folder);
    EXPECT_EQ(!why.has_value(), c.accepted) << c.folder << ": " << why.value_or("accepted");
  }
}

TEST(InstallFolder, StandardFoldersAndTheirStandardChildrenAreNeverProductFolders) {
  TempDir root;
  ScopedEnv sysroot("LUMO_SYSROOT", root.path());
  for (const char* folder : {"/var", "/var/lib", "/usr/lib", "/usr/share", "/srv", "/boot", "/home", "/mnt",
                             "/media", "/opt", "/etc", "/tmp", "/"}) {
    EXPECT_TRUE(isStandardSystemFolder(root.path() + folder)) << folder;
    EXPECT_TRUE(isStandardSystemFolder(folder)) << folder;
  }
  for (const char* folder : {"/opt/Vexta", "/var/lib/LuMo", "/home/user", "/srv/Vexta"})
    EXPECT_FALSE(isStandardSystemFolder(root.path() + folder)) << folder;
  // A link named like the product that leads to a standard folder is judged
  // by where it leads.
  std::filesystem::create_directories(root / "var");
  std::filesystem::create_directory_symlink(root / "var", root / "Vexta");
  EXPECT_TRUE(whyNotProductFolder(root / "Vexta", "Vexta").has_value());
  if (test::pathExists("/proc/self/mounts")) {
    EXPECT_TRUE(isMountPoint("/proc"));
  }
  EXPECT_FALSE(isMountPoint(root / "var"));
}

TEST(InstallFolder, ARecordTheScriptCannotHoldIsNeverStored) {
  TempDir dir;
  test::useWorkingScript(dir / "install.ini", "[var]\ninstalldir=\n");
  for (const std::string& record : {dir / "srv@x/Vexta", dir / "a$b/Vexta", dir / "søren/Vexta",
                                    dir / "x\r\n[uninstall]\r\n#Delete FILE", dir / std::string(300, 'a')}) {
    SetVariable("installdir", record);
    EXPECT_EQ(GetVariable("installdir"), "") << record;
  }
  SetVariable("INSTALLDIR", "D:\\Apps\\Vexta");  // either separator
  EXPECT_EQ(GetVariable("installdir"), "D:\\Apps\\Vexta");
}

TEST(InstallFolder, ARecordThatIsNoProductFolderIsClearedWithItsVersion) {
  TempDir dir;
  ScopedEnv sysroot("LUMO_SYSROOT", dir.path());
  const std::string fit = dir / "opt/Vexta";
  for (const std::string& record : {fit, dir / "var", dir / "srv/Player", dir / "opt/Vexta/.."}) {
    test::useWorkingScript(dir / "install.ini", "[var]\ninstalldir=" + record + "\nrealversion=1.2\n");
    const bool dropped = dropUnfitEarlierInstallFolder().has_value();
    EXPECT_EQ(dropped, record != fit) << record;
    EXPECT_EQ(GetVariable("installdir"), dropped ? "" : record) << record;
    EXPECT_EQ(GetVariable("realversion"), dropped ? "" : "1.2") << record;
  }
}

TEST(WorkingScriptValues, AValueNeverBecomesScriptText) {
  TempDir dir;
  test::useWorkingScript(dir / "install.ini", "[var]\ninstalldir=\n[uninstall]\n#Exists x->y\n");
  const std::string before = test::readFile(dir / "install.ini");
  const struct {
    std::string name, value;
  } refused[] = {
      {"accpath", "x\r\n[uninstall]\r\n#Delete FILE"},
      {"accpath", "x\n[uninstall]"},
      {"accpath", std::string("x\0y", 3)},
      {"[uninstall]", "1"},
      {"a=b", "1"},
  };
  for (const auto& c : refused) {
    EXPECT_THROW(SetVariable(c.name, c.value), ScriptError) << c.name;
    EXPECT_FALSE(ProfileFile(dir / "install.ini", TextEncoding::Gbk).write("var", c.name, c.value)) << c.name;
  }
  EXPECT_FALSE(ProfileFile(dir / "install.ini", TextEncoding::Gbk).write("var]\r\n[uninstall", "k", "v"));
  EXPECT_EQ(test::readFile(dir / "install.ini"), before);
}

}  // namespace
}  // namespace lumo
