// The install record in whole runs: an uninstallation removes what the
// installation wrote and keeps the user's own files, the copied uninstaller
// verifies and repairs the installation, a record cut by kill -9 still
// matches the disk, and an installation without a record uninstalls as
// before.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "commands/installation_check.h"
#include "e2e/sandbox.h"
#include "formats/install_record.h"

extern char** environ;

namespace lumo::test {
namespace {

namespace fs = std::filesystem;

// Where the record of the sandbox's installation lives: machine-wide when
// the tests run as root, in the sandbox's home otherwise.
std::string recordPath(const Sandbox& box) {
  return ::geteuid() == 0 ? box.sys() + "/var/lib/lumo/records/Vexta.sqlite"
                          : box.home() + "/.config/lumo/records/Vexta.sqlite";
}

std::vector<RecordItem> recordedItems(const Sandbox& box) {
  auto opened = InstallRecordFile::open(recordPath(box), false);
  if (!opened || !*opened) return {};
  auto items = (**opened)->items();
  return items ? *items : std::vector<RecordItem>{};
}

std::vector<std::string> recordedFiles(const Sandbox& box) {
  std::vector<std::string> files;
  for (const RecordItem& item : recordedItems(box))
    if (isRecordedFileKind(item.kind) || item.kind == RecordKind::Link) files.push_back(item.location);
  return files;
}

std::vector<std::string> sortedLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Starts `argv` in the sandbox without waiting for it.
pid_t startInSandbox(const Sandbox& box, const std::vector<std::string>& argv) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry; ++entry) {
    std::string text = *entry;
    std::size_t equals = text.find('=');
    if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : box.environment()) {
    if (value.empty())
      variables.erase(name);
    else
      variables[name] = value;
  }
  std::vector<std::string> texts;
  for (const auto& [name, value] : variables) texts.push_back(name + "=" + value);
  std::vector<char*> envp, args;
  for (std::string& text : texts) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::vector<std::string> copy = argv;
  for (std::string& arg : copy) args.push_back(arg.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, box.root().c_str());
  pid_t pid = -1;
  int started = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return started == 0 ? pid : -1;
}

TEST(InstallRecord, UninstallRemovesEveryInstalledFileAndKeepsTheUsersFilesAndTheirFolders) {
  Sandbox box;
  ASSERT_EQ(installSilently(box).exitCode, 0);
  const std::vector<std::string> installed = recordedFiles(box);
  ASSERT_GT(installed.size(), 10u);
  const std::string recording = box.installDir() + "/recording.mp4";
  const std::string subtitle = box.installDir() + "/config/subtitles/film.srt";
  writeFile(recording, "the user's recording");
  writeFile(subtitle, "the user's subtitles");

  ProcessResult uninstall = box.run(box.uninstaller(), {"-uinst", "/s"});
  EXPECT_EQ(uninstall.exitCode, 0) << uninstall.err;

  EXPECT_EQ(readFile(recording), "the user's recording");
  EXPECT_EQ(readFile(subtitle), "the user's subtitles");
  // The product's user data ($KERNEL/LumoClient) goes only when the user
  // asks for it; everything else the installation wrote is gone.
  for (const std::string& file : installed) {
    if (file.starts_with(box.kernel() + "/LumoClient/")) continue;
    EXPECT_FALSE(fs::exists(fs::symlink_status(file))) << file;
  }
  // Nothing but the user's files and the folders that hold them stays.
  std::vector<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(box.installDir())) left.push_back(entry.path().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{box.installDir() + "/config", box.installDir() + "/config/subtitles",
                                            subtitle, recording}));
  const std::string log = readFile(box.appData() + "/Lumo/Installer/LumoInstaller.log");
  for (const std::string& kept : {recording, subtitle}) {
    EXPECT_NE(uninstall.err.find("kept: " + kept), std::string::npos) << uninstall.err;
    EXPECT_NE(log.find("kept: " + kept), std::string::npos);
  }
  EXPECT_FALSE(pathExists(recordPath(box)));
}

TEST(InstallRecord, ADryRunOfTheUninstallationListsExactlyTheRecordedItemsAndKeepsTheRecord) {
  Sandbox box;
  ASSERT_EQ(installSilently(box).exitCode, 0);
  std::vector<std::string> expected;
  for (const RecordItem& item : recordedItems(box)) {
    std::string line = "record: " + std::string(recordKindName(item.kind)) + " " + item.location;
    if (!item.name.empty() || item.kind == RecordKind::RegistryValue) line += " | " + item.name;
    expected.push_back(line);
  }
  ProcessResult dry = box.run(box.uninstaller(), {"-uinst", "--dry-run", "/s"});
  EXPECT_EQ(dry.exitCode, 0) << dry.err;
  std::vector<std::string> listed;
  for (const std::string& line : sortedLines(dry.out))
    if (line.starts_with("record: ")) listed.push_back(line);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
  EXPECT_TRUE(pathExists(box.installDir() + "/LumoClient.exe"));
  EXPECT_EQ(recordedItems(box).size(), expected.size());
}

TEST(InstallRecord, AnInstallationWithoutARecordUninstallsAsBefore) {
  Sandbox box;
  ASSERT_EQ(installSilently(box).exitCode, 0);
  ASSERT_TRUE(fs::remove(recordPath(box)));
  writeFile(box.installDir() + "/recording.mp4", "the user's recording");

  ProcessResult uninstall = box.run(box.uninstaller(), {"-uinst", "/s"});
  EXPECT_EQ(uninstall.exitCode, 0) << uninstall.err;
  EXPECT_FALSE(pathExists(box.installDir()));
}

TEST(InstallRecord, VerifyNamesEachMissingOrChangedFileAndRepairBringsThemBack) {
  Sandbox box;
  ASSERT_EQ(installSilently(box).exitCode, 0);
  ProcessResult intact = box.run(box.uninstaller(), {"--verify-installation"});
  EXPECT_EQ(intact.exitCode, 0) << intact.out << intact.err;
  EXPECT_EQ(intact.out, "");

  const std::string deleted = box.installDir() + "/LumoNet.dll";
  const std::string changed = box.installDir() + "/server.ini";
  // A payload file that the script moved out of the product folder.
  const std::string moved = box.kernel() + "/LumoKernel/LumoCore.dat";
  const std::string original = readFile(changed);
  ASSERT_TRUE(fs::remove(deleted));
  ASSERT_TRUE(fs::remove(moved));
  writeFile(changed, original + "tampered=1\n");

  ProcessResult damaged = box.run(box.uninstaller(), {"--verify-installation"});
  EXPECT_EQ(damaged.exitCode, 10);
  EXPECT_EQ(damaged.out, "missing " + deleted + "\nchanged " + changed + "\nmissing " + moved + "\n");

  ProcessResult repair = box.run(box.uninstaller(), {"--repair", "/s"});
  EXPECT_EQ(repair.exitCode, 0) << repair.err;
  std::vector<std::string> restored{"restored " + deleted, "restored " + changed, "restored " + moved};
  std::sort(restored.begin(), restored.end());
  EXPECT_EQ(sortedLines(repair.out), restored);
  EXPECT_EQ(readFile(changed), original);

  ProcessResult again = box.run(box.uninstaller(), {"--verify-installation"});
  EXPECT_EQ(again.exitCode, 0) << again.out;
  EXPECT_EQ(again.out, "");
}

TEST(InstallRecord, RepairFailsWithItsStatusForAFileThePayloadDoesNotHold) {
  Sandbox box;
  ASSERT_EQ(installSilently(box).exitCode, 0);
  const std::string link = box.menu() + "/Vexta影音.desktop";
  ASSERT_TRUE(fs::remove(link));
  ProcessResult repair = box.run(box.uninstaller(), {"--repair"});
  EXPECT_EQ(repair.exitCode, 11);
  EXPECT_NE(repair.err.find("not restored " + link), std::string::npos) << repair.err;
  EXPECT_FALSE(pathExists(link));
}

TEST(InstallRecord, ModesWithoutARecordSayNotIntact) {
  Sandbox box;
  EXPECT_EQ(box.run(box.installer(), {"--verify-installation"}).exitCode, 10);
  EXPECT_EQ(box.run(box.installer(), {"--repair", "/s"}).exitCode, 11);
}

// Killed at random moments, each installation leaves a record whose every
// file and link is on disk with the recorded bytes; the next one completes
// over what is there.
TEST(InstallRecord, ARecordCutByKillAtRandomMomentsStillMatchesTheDisk) {
  Sandbox box;
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delayMs(10, 1500);
  for (int round = 0; round < 5; ++round) {
    const int delay = delayMs(random);
    pid_t pid = startInSandbox(box, {box.installer(), "/s"});
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::vector<commands::Damage> damage = commands::findDamage(recordedItems(box));
    std::string lines;
    for (const commands::Damage& d : damage) lines += commands::damageLine(d) + "\n";
    EXPECT_TRUE(damage.empty()) << "seed " << seed << ", killed after " << delay << " ms:\n" << lines;
  }
  ASSERT_EQ(installSilently(box).exitCode, 0);
  ProcessResult verify = box.run(box.uninstaller(), {"--verify-installation"});
  EXPECT_EQ(verify.exitCode, 0) << "seed " << seed << "\n" << verify.out;
}

}  // namespace
}  // namespace lumo::test
