#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <filesystem>
#include <set>
#include <string>

#include "platform/atomic_file.h"
#include "platform/file_operations.h"
#include "script/run_environment.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::commandError;
using test::runCommand;
using test::pathExists;
using test::readFile;
using test::TempDir;
using test::writeFile;

void makeReadOnly(const std::string& path) { ASSERT_EQ(::chmod(path.c_str(), 0444), 0); }

std::string withBackslashes(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// A small file system seen by this test process alone (a private mount
// namespace), so that a full disk can be had without filling a real one.
// Needs root and a system that lets it mount; mounted() says whether it did.
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string& folder, const std::string& size) : folder_(folder) {
    std::filesystem::create_directories(folder);
    mounted_ = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount("lumo-test", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

// Keeps the run environment of the process as it was before the test.
class SavedRunEnvironment {
 public:
  SavedRunEnvironment() : saved_(runEnvironment()) {}
  ~SavedRunEnvironment() { runEnvironment() = saved_; }

 private:
  RunEnvironment saved_;
};

std::set<std::string> namesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

TEST(FileCommands, MalformedLinesThrowTheirTexts) {
  struct Case {
    const char* verb;
    std::string arguments;
    std::string error;
  } cases[] = {
      {"Move", "a", "[Move] Invalid arguments (nArg!=2): a"},
      {"Move", "a|b|c", "[Move] Invalid arguments (nArg!=2): a|b|c"},
      {"Copy", "only", "[Copy] Invalid arguments (nArg!=2): only"},
      {"Move", "/no/such/source|/tmp/x", "[Move] Source file or path not found: /no/such/source"},
      {"Copy", "\\no\\such\\source|/tmp/x", "[Copy] Source file or path not found: \\no\\such\\source"},
      {"Exists", "/tmp", "[Exists] Invalid arguments (Missing operator '->' ): /tmp"},
      {"Exists", "/tmp|/var->found", "[Exists] Invalid arguments (nArg!=1): found"},
  };
  for (const Case& c : cases) EXPECT_EQ(commandError(c.verb, c.arguments), c.error) << c.verb << " " << c.arguments;
}

TEST(FileCommands, DeleteRemovesFilesAndLinksButLeavesReadOnlyFilesAndFolders) {
  TempDir dir;
  writeFile(dir / "plain.txt", "x");
  writeFile(dir / "locked.txt", "x");
  makeReadOnly(dir / "locked.txt");
  std::filesystem::create_directory(dir / "folder");
  writeFile(dir / "target.txt", "kept");
  std::filesystem::create_symlink(dir / "target.txt", dir / "link");

  runCommand("Delete", withBackslashes(dir / "plain.txt"));
  runCommand("Delete", dir / "locked.txt");
  runCommand("Delete", dir / "folder");
  runCommand("Delete", dir / "link");
  runCommand("Delete", dir / "missing.txt");
  runCommand("Delete", dir / "*.txt");

  EXPECT_FALSE(pathExists(dir / "plain.txt"));
  EXPECT_TRUE(pathExists(dir / "locked.txt"));
  EXPECT_TRUE(pathExists(dir / "folder"));
  EXPECT_FALSE(pathExists(dir / "link"));
  EXPECT_EQ(readFile(dir / "target.txt"), "kept");
}

// The reason of a refused delete is its own, never what an earlier call
// left in errno.
TEST(FileOperations, ARefusedDeleteSaysWhy) {
  TempDir dir;
  writeFile(dir / "locked.txt", "x");
  makeReadOnly(dir / "locked.txt");
  std::filesystem::create_directory(dir / "folder");
  const std::pair<std::string, std::string> cases[] = {{dir / "locked.txt", "Permission denied"},
                                                       {dir / "folder", "Is a directory"},
                                                       {dir / "missing.txt", "No such file or directory"}};
  for (const auto& [path, why] : cases) {
    errno = ENOSPC;
    Result<void> deleted = deleteFile(path);
    EXPECT_FALSE(deleted) << path;
    EXPECT_EQ(deleted.why(), why) << path;
  }
}

TEST(FileCommands, RMDirRemovesTheTreeAndTheFolderItself) {
  for (const char* ending : {"", "/", "\\"}) {
    TempDir dir;
    writeFile(dir / "app/a.txt", "a");
    writeFile(dir / "app/sub/深/b.txt", "b");
    writeFile(dir / "app/.hidden", "h");
    std::filesystem::create_directories(dir / "app/empty");
    runCommand("RMDir", withBackslashes(dir / "app") + ending);
    EXPECT_FALSE(pathExists(dir / "app")) << "ending '" << ending << "'";
  }
}

TEST(FileCommands, RMDirLeavesReadOnlyFilesAndTheFoldersAboveThem) {
  TempDir dir;
  writeFile(dir / "app/keep/deeper/locked.dll", "x");
  makeReadOnly(dir / "app/keep/deeper/locked.dll");
  writeFile(dir / "app/keep/other.txt", "x");
  writeFile(dir / "app/gone/file.txt", "x");
  runCommand("RMDir", dir / "app");
  EXPECT_TRUE(pathExists(dir / "app/keep/deeper/locked.dll"));
  EXPECT_FALSE(pathExists(dir / "app/keep/other.txt"));
  EXPECT_FALSE(pathExists(dir / "app/gone"));
}

TEST(FileCommands, RMDirDeletesLinksAndNeverWhatTheyPointTo) {
  TempDir dir;
  writeFile(dir / "outside/precious.txt", "p");
  writeFile(dir / "app/file.txt", "x");
  std::filesystem::create_directory_symlink(dir / "outside", dir / "app/linked");
  std::filesystem::create_directory_symlink(dir / "outside", dir / "toplink");

  runCommand("RMDir", dir / "app");
  runCommand("RMDir", dir / "toplink/");
  EXPECT_FALSE(pathExists(dir / "app"));
  EXPECT_FALSE(pathExists(dir / "toplink"));
  EXPECT_EQ(readFile(dir / "outside/precious.txt"), "p");
}

TEST(FileCommands, RMDirRefusesEmptyAndRelativeFoldersAndIgnoresMissingOnes) {
  TempDir dir;
  writeFile(dir / "rel/file.txt", "x");
  std::string previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  runCommand("RMDir", "");
  runCommand("RMDir", "rel");
  runCommand("RMDir", "rel\\");
  runCommand("RMDir", "./rel");
  std::filesystem::current_path(previous);
  EXPECT_TRUE(pathExists(dir / "rel/file.txt"));
  runCommand("RMDir", dir / "no/such/folder");
  EXPECT_TRUE(pathExists(dir.path()));
}

// An uninstall folder read from a damaged or planted registry value must not
// take the user's own folders with it, however the path is spelled.
TEST(FileCommands, RMDirRaisesOnProtectedFoldersAndTheFoldersAboveThem) {
  TempDir dir;
  const std::string home = dir / "home";
  test::ScopedEnv homeVariable("HOME", home);
  test::ScopedEnv sysroot("LUMO_SYSROOT", dir / "root");
  SavedRunEnvironment saved;
  RunEnvironment& environment = runEnvironment();
  environment.desktop = dir / "root/etc/skel/Desktop";
  environment.curDesktop = home + "/Desktop";
  environment.smPrograms = home + "/.local/share/applications";
  environment.appData = home + "/.config";
  environment.programFiles = home + "/.local/share";
  environment.kernel = home + "/.local/share/LuMo";
  const std::string install = home + "/.local/share/Vexta";
  environment.tempDir = dir / "tmp/";
  environment.system = dir / "root/usr/bin";
  for (const std::string& folder : {environment.desktop, environment.curDesktop, environment.smPrograms,
                                    environment.appData, environment.tempDir, environment.system})
    writeFile(folder + "/keep", "k");
  writeFile(home + "/LumoClient.exe", "planted");
  writeFile(home + "/Vexta/LumoClient.exe", "x");
  writeFile(environment.kernel + "/LumoClient/cache/c", "c");
  writeFile(install + "/LumoClient.exe", "x");
  std::filesystem::create_directory_symlink(home, dir / "homelink");

  const std::string refused[] = {
      home,
      home + "/Vexta/..",
      withBackslashes(home) + "\\\\Vexta\\.\\..\\",
      home + "//",
      dir / "homelink/.",
      dir / "homelink/Vexta/..",
      dir / "missing/../home",
      "/",
      dir.path(),
      dir / "root",
      home + "/.local",
      environment.curDesktop,
      environment.tempDir,
      environment.system + "/.",
      environment.appData,
      environment.smPrograms,
      environment.programFiles,
  };
  for (const std::string& folder : refused)
    EXPECT_EQ(commandError("RMDir", folder), "[RMDir] Protected folder not removed: " + folder);
  EXPECT_EQ(readFile(home + "/LumoClient.exe"), "planted");
  EXPECT_TRUE(pathExists(home + "/Vexta/LumoClient.exe"));
  EXPECT_TRUE(pathExists(environment.tempDir + "keep"));

  // The product's own folders stay removable, and a link named last loses
  // only the link.
  for (const std::string& folder : {home + "/Vexta", environment.kernel, install, dir / "homelink"})
    runCommand("RMDir", folder);
  EXPECT_FALSE(pathExists(home + "/Vexta"));
  EXPECT_FALSE(pathExists(environment.kernel));
  EXPECT_FALSE(pathExists(install));
  EXPECT_FALSE(pathExists(dir / "homelink"));
  EXPECT_EQ(readFile(home + "/LumoClient.exe"), "planted");
}

TEST(FileCommands, MakeSurePathCreatesTheLastComponentWithOrWithoutTrailingSeparator) {
  TempDir dir;
  for (std::string ending : {"", "\\", "/"}) {
    std::string name = "t";  // appended: GCC 12 at -O3 warns of an overlapping copy in "t" + text
    name += std::to_string(ending.size());
    if (ending == "/") name += 's';
    std::string root = dir / name;
    runCommand("MakeSurePath", withBackslashes(root + "/a/深") + ending);
    EXPECT_TRUE(std::filesystem::is_directory(root + "/a/深")) << "ending '" << ending << "'";
  }
  writeFile(dir / "blocker", "file");
  runCommand("MakeSurePath", dir / "blocker/sub");
  EXPECT_FALSE(pathExists(dir / "blocker/sub"));
}

TEST(FileCommands, MoveReplacesTheTargetKeepsAFileMovedOntoItselfAndMovesFolders) {
  TempDir dir;
  writeFile(dir / "new.dll", "new");
  writeFile(dir / "dest/old.dll", "old");
  runCommand("Move", withBackslashes(dir / "new.dll") + "|" + withBackslashes(dir / "dest/old.dll"));
  EXPECT_FALSE(pathExists(dir / "new.dll"));
  EXPECT_EQ(readFile(dir / "dest/old.dll"), "new");

  runCommand("Move", dir / "dest/old.dll|" + withBackslashes(dir / "dest/./old.dll"));
  EXPECT_EQ(readFile(dir / "dest/old.dll"), "new");

  writeFile(dir / "folder/inner.txt", "i");
  runCommand("Move", dir / "folder|" + dir / "moved");
  EXPECT_EQ(readFile(dir / "moved/inner.txt"), "i");
}

TEST(FileCommands, MoveThatCannotMoveLeavesBothFilesAndRaises) {
  TempDir dir;
  writeFile(dir / "source.txt", "source");
  writeFile(dir / "locked.txt", "locked");
  makeReadOnly(dir / "locked.txt");
  EXPECT_EQ(commandError("Move", dir / "source.txt|" + dir / "locked.txt"),
            "[Move] Can not move " + dir / "source.txt" + " to " + dir / "locked.txt" + ": Permission denied");
  EXPECT_EQ(commandError("Move", dir / "source.txt|" + dir / "missing/folder/x.txt"),
            "[Move] Can not move " + dir / "source.txt" + " to " + dir / "missing/folder/x.txt" +
                ": No such file or directory");
  EXPECT_EQ(readFile(dir / "source.txt"), "source");
  EXPECT_EQ(readFile(dir / "locked.txt"), "locked");
}

TEST(FileCommands, CopyCopiesBytesAndPermissionsAndRaisesWhenItCannot) {
  TempDir dir;
  writeFile(dir / "Lumo@$#.exe", std::string(200000, 'z'));
  ::chmod((dir / "Lumo@$#.exe").c_str(), 0755);
  runCommand("Copy", withBackslashes(dir / "Lumo@$#.exe") + "|" + dir / "copy.exe");
  EXPECT_EQ(readFile(dir / "copy.exe"), std::string(200000, 'z'));
  struct stat st;
  ASSERT_EQ(::stat((dir / "copy.exe").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);

  writeFile(dir / "locked.txt", "locked");
  makeReadOnly(dir / "locked.txt");
  EXPECT_EQ(commandError("Copy", dir / "copy.exe|" + dir / "locked.txt"),
            "[Copy] Can not copy " + dir / "copy.exe" + " to " + dir / "locked.txt" + ": Permission denied");
  EXPECT_NE(commandError("Copy", dir / "copy.exe|" + dir / "no/folder/x.exe"), "(no error)");
  // The running installer copied onto itself: the bytes are already there.
  runCommand("Copy", dir / "copy.exe|" + dir / "copy.exe");
  EXPECT_EQ(readFile(dir / "locked.txt"), "locked");
  EXPECT_FALSE(pathExists(dir / "no"));
  EXPECT_EQ(readFile(dir / "copy.exe"), std::string(200000, 'z'));
}

// A full disk: the uninstaller copied into a per-user folder, the data file
// moved to another file system.
TEST(FileCommands, CopyAndMoveThatDoNotFitRaiseAndLeaveTheTargetAsItWas) {
  TempDir dir;
  SmallFileSystem full(dir / "full", "64k");
  if (!full.mounted()) GTEST_SKIP() << "this process cannot mount a small file system";
  writeFile(dir / "LumoInstaller", std::string(1 << 20, 'u'));
  writeFile(dir / "LumoCore.dat", std::string(1 << 20, 'c'));
  writeFile(dir / "full/install.ini", "old script");
  writeFile(dir / "full/LumoCore.dat", "old core");

  EXPECT_EQ(commandError("Copy", dir / "LumoInstaller|" + dir / "full/install.ini"),
            "[Copy] Can not copy " + dir / "LumoInstaller" + " to " + dir / "full/install.ini" +
                ": No space left on device");
  EXPECT_EQ(commandError("Move", dir / "LumoCore.dat|" + dir / "full/LumoCore.dat"),
            "[Move] Can not move " + dir / "LumoCore.dat" + " to " + dir / "full/LumoCore.dat" +
                ": No space left on device");
  EXPECT_EQ(readFile(dir / "full/install.ini"), "old script");
  EXPECT_EQ(readFile(dir / "full/LumoCore.dat"), "old core");
  EXPECT_EQ(readFile(dir / "LumoCore.dat"), std::string(1 << 20, 'c'));
  EXPECT_EQ(namesIn(dir / "full"), (std::set<std::string>{"install.ini", "LumoCore.dat"}));

  // What fits moves across, and only then does the source go.
  writeFile(dir / "LumoKernel.dat", "kernel");
  runCommand("Move", dir / "LumoKernel.dat|" + dir / "full/LumoCore.dat");
  EXPECT_EQ(readFile(dir / "full/LumoCore.dat"), "kernel");
  EXPECT_FALSE(pathExists(dir / "LumoKernel.dat"));
}

TEST(FileCommands, ExistsStoresOneOrZeroAndKeepsThePathAsWritten) {
  TempDir dir;
  test::useWorkingScript(dir / "install.ini", "[var]\n");
  writeFile(dir / "file.txt", "x");
  writeFile(dir / "spaced.txt ", "x");
  struct Case {
    std::string path;
    const char* expected;
  } cases[] = {
      {dir.path(), "1"},
      {withBackslashes(dir / "file.txt"), "1"},
      {dir / "file.txt ", "0"},
      {dir / "spaced.txt ", "1"},
      {dir / "missing", "0"},
      {"", "0"},
  };
  for (const Case& c : cases) {
    runCommand("Exists", c.path + "->found");
    EXPECT_EQ(GetVariable("found"), c.expected) << "'" << c.path << "'";
  }
}

// A run killed while it writes a file leaves no temporary file that no
// later run would remove; a finished one leaves exactly its target.
TEST(PendingFile, IsNamedOnlyOnceWholeAndAKilledWriterLeavesNothing) {
  struct Case {
    const char* name;
    bool targetExists;
    bool finish;
    bool replace;
    std::set<std::string> names;
    std::string content;
  };
  const Case cases[] = {
      {"killed, new file", false, false, true, {}, ""},
      {"killed, over a file", true, false, true, {"target"}, "old"},
      {"finished, new file", false, true, true, {"target"}, "new"},
      {"finished, over a file", true, true, true, {"target"}, "new"},
      {"finished, never over a file", true, true, false, {"target"}, "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string target = dir / "target";
    if (c.targetExists) writeFile(target, "old");
    pid_t child = ::fork();
    if (child == 0) {
      PendingFile file;
      if (!file.create(target, 0640) || !writeAll(file.fd(), "new")) ::_exit(2);
      if (!c.finish) ::raise(SIGKILL);
      ::_exit(file.publish(c.replace) == c.replace ? 0 : 3);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (c.finish)
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    else
      EXPECT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(namesIn(dir.path()), c.names);
    if (!c.content.empty()) {
      EXPECT_EQ(readFile(target), c.content);
    }
  }
}

TEST(FileCommands, ClearTmpChangesNothing) {
  TempDir dir;
  writeFile(dir / "file.txt", "x");
  runCommand("ClearTmp", dir.path());
  runCommand("ClearTmp", "");
  EXPECT_TRUE(pathExists(dir / "file.txt"));
}

}  // namespace
}  // namespace lumo
