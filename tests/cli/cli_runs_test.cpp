// Whole runs of the default installer in sandboxes, one rule of the command
// line each: the modes that answer and end, a wrong command line, the
// progress stream, the dry run, --target, --no-launch, --log and the
// statuses of a second installer and of an uninstallation with nothing
// installed.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/exit_status.h"
#include "app/startup.h"
#include "e2e/sandbox.h"
#include "formats/resource_bundle.h"
#include "platform/instance_lock.h"

namespace lumo::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every file and folder of the sandbox but the temporary folder, with each
// file's size and modification time, and every registry entry.
std::set<std::string> listing(const Sandbox& box) {
  std::set<std::string> entries = box.snapshot();
  const fs::path base(box.root());
  for (auto it = fs::recursive_directory_iterator(base); it != fs::recursive_directory_iterator(); ++it) {
    const std::string relative = fs::relative(it->path(), base).string();
    if (relative == "tmp") {
      it.disable_recursion_pending();
      continue;
    }
    std::string line = relative;
    if (it->is_regular_file() && !it->is_symlink()) {
      line += " " + std::to_string(it->file_size()) + " " +
              std::to_string(it->last_write_time().time_since_epoch().count());
    }
    entries.insert(line);
  }
  return entries;
}

TEST(CliRuns, QuestionsAreAnsweredOnStdoutWithoutTouchingTheMachine) {
  Sandbox box;
  (void)box.snapshot();  // the first look may make the registry's empty store
  const std::set<std::string> before = listing(box);
  const struct {
    std::vector<std::string> arguments;
    std::string said;  // found on stdout
  } cases[] = {
      {{"--help"}, "--progress-fd N"},
      {{"-H"}, "--dry-run"},
      {{"/?"}, "-uinst"},
      {{"--version"}, "LumoInstaller 1.4.136.6\napp_version 1.4.136.6\n"},
      {{"--list"}, "LumoClient.exe\t"},
      {{"--check"}, "payload: every entry decodes and matches its CRC"},
  };
  for (const auto& c : cases) {
    ProcessResult run = box.run(box.installer(), c.arguments);
    EXPECT_EQ(run.exitCode, kExitOk) << c.arguments.front() << "\n" << run.err;
    EXPECT_NE(run.out.find(c.said), std::string::npos) << c.arguments.front() << "\n" << run.out;
  }
  EXPECT_EQ(listing(box), before);
  EXPECT_TRUE(fs::is_empty(box.tmp()));
}

TEST(CliRuns, TheListNamesEveryEntryWithItsSizeAndTime) {
  Sandbox box;
  ProcessResult run = box.run(box.installer(), {"--list"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  bool sawClient = false;
  for (const std::string& line : linesOf(run.out)) {
    // path, size, modification time, separated by tabs
    const std::size_t first = line.find('\t'), second = line.find('\t', first + 1);
    ASSERT_NE(second, std::string::npos) << line;
    const std::string size = line.substr(first + 1, second - first - 1);
    EXPECT_EQ(size.find_first_not_of("0123456789"), std::string::npos) << line;
    EXPECT_EQ(line.size() - second - 1, std::string("2026-12-09T05:35:47Z").size()) << line;
    if (line.starts_with("LumoClient.exe\t")) sawClient = std::stoull(size) > 0;
  }
  EXPECT_TRUE(sawClient) << run.out;
}

TEST(CliRuns, ADamagedInstallerFailsTheCheckAndTheList) {
  Sandbox box;
  // One byte in the middle of the payload flipped: the resource's CRC no
  // longer matches.
  std::string bytes = readFile(box.installer());
  const Result<ResourceBundle> bundle = ResourceBundle::open(box.installer());
  ASSERT_TRUE(bundle) << bundle.why();
  const ResourceEntry* payload = bundle->find("DATA", 900);
  ASSERT_NE(payload, nullptr);
  const std::size_t middle = payload->offset + payload->size / 2;
  const std::string flipped = box.dist() + "/flipped";
  std::string changed = bytes;
  changed[middle] = static_cast<char>(changed[middle] ^ 0x20);
  writeFile(flipped, changed);
  // Cut short: the bundle's trailer is gone.
  const std::string cut = box.dist() + "/cut";
  writeFile(cut, bytes.substr(0, bytes.size() - 40));
  for (const std::string& program : {flipped, cut}) fs::permissions(program, fs::perms::owner_all);

  const struct {
    std::string program;
    std::string mode;
    int status;
  } cases[] = {
      {box.installer(), "--check", kExitOk},
      {flipped, "--check", kExitDamaged},
      {cut, "--check", kExitDamaged},
      {cut, "--list", kExitDamaged},
  };
  for (const auto& c : cases) {
    ProcessResult run = box.run(c.program, {c.mode});
    EXPECT_EQ(run.exitCode, c.status) << c.program << " " << c.mode << "\n" << run.err;
    if (c.status != kExitOk) {
      EXPECT_NE(run.err.find("damaged"), std::string::npos) << run.err;
    }
  }
}

TEST(CliRuns, AWrongCommandLineSaysWhyAndCreatesNothing) {
  Sandbox box;
  (void)box.snapshot();
  const std::set<std::string> before = listing(box);
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"--silent"}, {"/srv/x"}, {"--target"}, {"-uinst", "--list"}}) {
    ProcessResult run = box.run(box.installer(), arguments);
    EXPECT_EQ(run.exitCode, kExitBadCommandLine) << arguments.front();
    EXPECT_NE(run.err.find("Usage: LumoInstaller"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
  EXPECT_EQ(listing(box), before);
  EXPECT_TRUE(fs::is_empty(box.tmp()));
}

// The dry run's lines "SECTION:LINE: VERB ARGUMENTS" whose verb is `verb`.
std::vector<std::string> dryRunLines(const std::string& out, const std::string& verb) {
  std::vector<std::string> found;
  for (const std::string& line : linesOf(out)) {
    const std::size_t colon = line.find(": ");
    if (colon != std::string::npos && line.compare(colon + 2, verb.size() + 1, verb + " ") == 0) found.push_back(line);
  }
  return found;
}

TEST(CliRuns, ADryRunOfTheDefaultScriptChangesNothingAndShowsWhatItWouldDo) {
  Sandbox box;
  (void)box.snapshot();
  const std::set<std::string> before = listing(box);
  ProcessResult run = box.run(box.installer(), {"/s", "--dry-run"});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(listing(box), before);

  // The payload would go into the default folder; the line says where in
  // the script it stands.
  const std::vector<std::string> out = dryRunLines(run.out, "Out");
  ASSERT_EQ(out.size(), 1u) << run.out;
  EXPECT_TRUE(out[0].starts_with("install:")) << out[0];
  EXPECT_TRUE(out[0].ends_with(": Out " + box.installDir())) << out[0];
  // Lines that only read are run, not shown; lines that change are shown.
  EXPECT_TRUE(dryRunLines(run.out, "ReadReg").empty()) << run.out;
  EXPECT_TRUE(dryRunLines(run.out, "Notify").empty()) << run.out;
  EXPECT_FALSE(dryRunLines(run.out, "WriteReg").empty()) << run.out;
  EXPECT_FALSE(dryRunLines(run.out, "Kill").empty()) << run.out;
  // The product would be started after the installation...
  EXPECT_FALSE(dryRunLines(run.out, "Run").empty());
  bool startsProduct = false;
  for (const std::string& line : dryRunLines(run.out, "Run"))
    startsProduct = startsProduct || line.find("LumoClient.exe||0|show") != std::string::npos;
  EXPECT_TRUE(startsProduct) << run.out;
  // ... but not with --no-launch.
  ProcessResult noLaunch = box.run(box.installer(), {"/s", "--dry-run", "--no-launch"});
  EXPECT_EQ(noLaunch.exitCode, kExitOk) << noLaunch.err;
  for (const std::string& line : dryRunLines(noLaunch.out, "Run"))
    EXPECT_EQ(line.find("LumoClient.exe||0|show"), std::string::npos) << line;
  EXPECT_EQ(listing(box), before);
}

TEST(CliRuns, TheTargetChoosesTheFolderWithOrWithoutTheProductFolder) {
  Sandbox box;
  const std::string apps = box.sys() + "/srv/apps";
  const std::pair<std::string, std::string> cases[] = {
      {apps, apps + "/Vexta"},
      {apps + "/Vexta/", apps + "/Vexta"},
      {box.sys() + "/srv/Vexta", box.sys() + "/srv/Vexta"},
  };
  for (const auto& [target, folder] : cases) {
    ProcessResult run = box.run(box.installer(), {"-s", "--dry-run", "--target=" + target});
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    const std::vector<std::string> out = dryRunLines(run.out, "Out");
    ASSERT_EQ(out.size(), 1u) << run.out;
    EXPECT_TRUE(out[0].ends_with(": Out " + folder)) << target << ": " << out[0];
  }
  // A folder the chooser would refuse is refused the same way: the script
  // could not carry a "$" in it.
  ProcessResult refused = box.run(box.installer(), {"/s", "--target", box.sys() + "/srv/a$b"});
  EXPECT_EQ(refused.exitCode, kExitIncomplete);
  EXPECT_NE(refused.err.find("The installation folder is refused"), std::string::npos) << refused.err;
}

TEST(CliRuns, ADryRunOfTheUninstallationShowsTheRemovalAndRemovesNothing) {
  Sandbox box;
  ASSERT_EQ(box.run(box.installer(), {"/s", "--no-launch"}).exitCode, kExitOk);
  (void)box.snapshot();
  const std::set<std::string> before = listing(box);
  ProcessResult run = box.run(box.uninstaller(), {"-uinst", "/s", "--dry-run"});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  bool removesFolder = false;
  for (const std::string& line : dryRunLines(run.out, "RMDir"))
    removesFolder = removesFolder || (line.starts_with("uninstall:") && line.ends_with(" " + box.installDir()));
  EXPECT_TRUE(removesFolder) << run.out;
  EXPECT_EQ(listing(box), before);
  EXPECT_TRUE(fs::exists(box.installDir() + "/LumoClient.exe"));
}

TEST(CliRuns, TheProgressStreamEndsWithTheExitStatusAndBytesNeverGoBack) {
  Sandbox box;
  const std::string target = box.sys() + "/srv/apps";
  const std::string log = box.root() + "/run.log";
  ProcessResult run =
      box.run(box.installer(), {"/S", "--no-launch", "--progress-fd", "1", "--target", target, "--log", log});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_TRUE(fs::exists(target + "/Vexta/LumoClient.exe"));

  std::vector<QJsonObject> events;
  for (const std::string& line : linesOf(run.out)) {
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
    ASSERT_TRUE(document.isObject()) << line;
    events.push_back(document.object());
  }
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back()["event"].toString(), "end");
  EXPECT_EQ(events.back()["status"].toInt(-1), run.exitCode);

  double done = -1, total = -1;
  int unpacks = 0, progress = 0;
  bool sawInstall = false, sawComplete = false;
  for (std::size_t i = 0; i + 1 < events.size(); ++i) {
    const QJsonObject& event = events[i];
    const QString kind = event["event"].toString();
    if (kind == "unpack") {
      ++unpacks;
      EXPECT_GE(event["done"].toDouble(), done) << "bytes went back at event " << i;
      EXPECT_LE(event["done"].toDouble(), event["total"].toDouble());
      if (total >= 0) {
        EXPECT_EQ(event["total"].toDouble(), total);
      }
      done = event["done"].toDouble();
      total = event["total"].toDouble();
    } else {
      ASSERT_EQ(kind, "progress") << i;
      ++progress;
      EXPECT_GE(event["percent"].toInt(-1), 0);
      EXPECT_LE(event["percent"].toInt(101), 100);
      sawInstall = sawInstall || event["phase"].toString() == "install";
      sawComplete = sawComplete || (event["phase"].toString() == "installok" && event["percent"].toInt() == 100);
    }
  }
  EXPECT_GE(unpacks, 2);
  EXPECT_GT(total, 0);
  EXPECT_EQ(done, total) << "the last unpack event has every byte";
  EXPECT_GE(progress, 10);
  EXPECT_TRUE(sawInstall);
  EXPECT_TRUE(sawComplete);

  // The log the command line asked for: UTF-8, every line after its time.
  const std::vector<std::string> logLines = linesOf(readFile(log));
  ASSERT_FALSE(logLines.empty());
  bool sawBanner = false;
  for (const std::string& line : logLines) {
    EXPECT_EQ(line.find('\r'), std::string::npos);
    ASSERT_GE(line.size(), 25u) << line;
    EXPECT_EQ(line[4], '-') << line;
    EXPECT_EQ(line[10], 'T') << line;
    EXPECT_EQ(line.substr(23, 2), "Z ") << line;
    sawBanner = sawBanner || line.find("LumoShellParser::ExecInstall ") != std::string::npos;
  }
  EXPECT_TRUE(sawBanner);
}

TEST(CliRuns, ASecondInstallerAndAnUninstallationOfNothingHaveStatusesOfTheirOwn) {
  Sandbox box;
  std::string lockPath;
  {
    ScopedEnv runtime("XDG_RUNTIME_DIR", box.root() + "/run");
    lockPath = instanceLockPath(kInstanceLockName);
  }
  int fd = ::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ProcessResult second = box.run(box.installer(), {"/s", "--progress-fd", "1"});
  ::close(fd);
  EXPECT_EQ(second.exitCode, kExitAnotherRunning);
  EXPECT_NE(second.err.find("another installer is running"), std::string::npos) << second.err;
  EXPECT_NE(second.out.find("{\"event\":\"end\",\"status\":8}"), std::string::npos) << second.out;

  ProcessResult nothing = box.run(box.installer(), {"-uinst", "/s"});
  EXPECT_EQ(nothing.exitCode, kExitNotInstalled);
  EXPECT_NE(nothing.err.find("您未安装或已经卸载了Vexta影音！"), std::string::npos) << nothing.err;
  EXPECT_NE(nothing.err.find("status 9"), std::string::npos) << nothing.err;
}

}  // namespace
}  // namespace lumo::test
