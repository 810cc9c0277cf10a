// The command line read as a table: every switch in both value forms and
// any letter case, the old forms, look-alikes that must change nothing or
// be refused, and the folder --target chooses.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/command_line.h"
#include "support/test_support.h"

namespace lumo {
namespace {

struct Expected {
  RunMode mode = RunMode::Install;
  bool silent = false;
  bool dryRun = false;
  bool noLaunch = false;
  std::optional<std::string> target{};
  std::optional<int> progressFd{};
  std::optional<std::string> logFile{};
};

std::string shown(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) text += "[" + argument + "]";
  return text.empty() ? "(none)" : text;
}

TEST(CommandLine, EverySwitchIsReadWholeInAnyCaseAndInBothValueForms) {
  test::TempDir dir;
  const std::string log = dir / "run.log";
  const struct {
    std::vector<std::string> arguments;
    Expected expected;
  } cases[] = {
      {{}, {}},
      {{"/s"}, {.silent = true}},
      {{"/S"}, {.silent = true}},
      {{"-s"}, {.silent = true}},
      {{"-S"}, {.silent = true}},
      {{"-uinst"}, {.mode = RunMode::Uninstall}},
      {{"-UINST", "/S"}, {.mode = RunMode::Uninstall, .silent = true}},
      {{"--help"}, {.mode = RunMode::Help}},
      {{"-h"}, {.mode = RunMode::Help}},
      {{"/?"}, {.mode = RunMode::Help}},
      {{"--HELP", "-uinst", "--list"}, {.mode = RunMode::Help}},
      {{"--version"}, {.mode = RunMode::Version}},
      {{"--Version"}, {.mode = RunMode::Version}},
      {{"--list"}, {.mode = RunMode::List}},
      {{"--check"}, {.mode = RunMode::Check}},
      {{"--verify-installation"}, {.mode = RunMode::VerifyInstallation}},
      {{"--repair", "/s"}, {.mode = RunMode::Repair, .silent = true}},
      {{"--target", "/srv/apps"}, {.target = "/srv/apps"}},
      {{"--target=/srv/apps"}, {.target = "/srv/apps"}},
      {{"--TARGET=/Srv/Apps"}, {.target = "/Srv/Apps"}},
      // A value is taken as it is, whatever it looks like.
      {{"--target", "/S"}, {.target = "/S"}},
      {{"--target", "-uinst"}, {.target = "-uinst"}},
      {{"--target", "/srv/my-setup-uinst-s", "/s"}, {.silent = true, .target = "/srv/my-setup-uinst-s"}},
      {{"--no-launch"}, {.noLaunch = true}},
      {{"--dry-run", "-uinst"}, {.mode = RunMode::Uninstall, .dryRun = true}},
      {{"--progress-fd", "2"}, {.progressFd = 2}},
      {{"--progress-fd=1"}, {.progressFd = 1}},
      {{"--log", log}, {.logFile = log}},
      {{"--log=" + log, "-uinst"}, {.mode = RunMode::Uninstall, .logFile = log}},
  };
  for (const auto& c : cases) {
    Result<CommandLine> line = parseCommandLine(c.arguments);
    ASSERT_TRUE(line) << shown(c.arguments) << ": " << line.why();
    EXPECT_EQ(line->mode, c.expected.mode) << shown(c.arguments);
    EXPECT_EQ(line->silent, c.expected.silent) << shown(c.arguments);
    EXPECT_EQ(line->dryRun, c.expected.dryRun) << shown(c.arguments);
    EXPECT_EQ(line->noLaunch, c.expected.noLaunch) << shown(c.arguments);
    EXPECT_EQ(line->target, c.expected.target) << shown(c.arguments);
    EXPECT_EQ(line->progressFd, c.expected.progressFd) << shown(c.arguments);
    EXPECT_EQ(line->logFile, c.expected.logFile) << shown(c.arguments);
  }
}

TEST(CommandLine, LookAlikesAndWrongValuesAreRefusedWithTheReason) {
  // A descriptor that is surely closed.
  const int closed = ::dup(0);
  ASSERT_GE(closed, 0);
  ::close(closed);
  const struct {
    std::vector<std::string> arguments;
    std::string reason;  // found in the failure's text
  } cases[] = {
      {{"--silent"}, "--silent"},
      {{"/srv/x"}, "/srv/x"},
      {{"x-uinstall"}, "x-uinstall"},
      {{"-uinstall"}, "-uinstall"},
      {{"--uinst"}, "--uinst"},
      {{"--s"}, "--s"},
      {{"-target", "/srv"}, "-target"},
      {{"/target"}, "/target"},
      {{"-"}, "-"},
      {{"--"}, "--"},
      {{"--target"}, "--target"},
      {{"--target="}, "--target"},
      {{"--no-launch=1"}, "no-launch"},
      {{"-s=1"}, "-s"},
      {{"--progress-fd", "x"}, "--progress-fd"},
      {{"--progress-fd", "-1"}, "--progress-fd"},
      {{"--progress-fd", std::to_string(closed)}, "open for writing"},
      {{"--log", "/no/such/folder/run.log"}, "/no/such/folder"},
      {{"--list", "--check"}, "exclude"},
      {{"-uinst", "--repair"}, "exclude"},
      {{"--version", "/s"}, "-s"},
      {{"--list", "--target", "/srv"}, "--target"},
      {{"-uinst", "--target", "/srv"}, "--target"},
      {{"-uinst", "--no-launch"}, "--no-launch"},
      {{"--check", "--log", "/tmp/x.log"}, "--log"},
  };
  for (const auto& c : cases) {
    Result<CommandLine> line = parseCommandLine(c.arguments);
    ASSERT_FALSE(line) << shown(c.arguments);
    EXPECT_NE(line.why().find(c.reason), std::string::npos) << shown(c.arguments) << ": " << line.why();
  }
}

TEST(CommandLine, TheUsageHasALineForEverySwitch) {
  const std::string usage = usageText();
  for (const char* name : {"--help", "-h", "/?", "--version", "-s", "/s", "-uinst", "--target DIR", "--no-launch",
                           "--progress-fd N", "--dry-run", "--list", "--check", "--log FILE",
                           "--verify-installation", "--repair"}) {
    EXPECT_NE(usage.find(name), std::string::npos) << name;
  }
}

TEST(CommandLine, TheTargetGetsTheProductFolderUnlessItEndsWithIt) {
  const std::string here = std::filesystem::current_path().string();
  const std::pair<std::string, std::string> cases[] = {
      {"/srv/apps", "/srv/apps/Vexta"},
      {"/srv/apps/", "/srv/apps/Vexta"},
      {"/srv/apps/Vexta", "/srv/apps/Vexta"},
      {"/srv/apps/Vexta//", "/srv/apps/Vexta"},
      {"/srv/apps/vexta", "/srv/apps/vexta"},
      {"/srv/Vexta2", "/srv/Vexta2/Vexta"},
      {"/", "/Vexta"},
      {"apps", here + "/apps/Vexta"},
      {"Vexta", here + "/Vexta"},
  };
  for (const auto& [dir, folder] : cases) EXPECT_EQ(installFolderForTarget(dir), folder) << dir;
}

}  // namespace
}  // namespace lumo
