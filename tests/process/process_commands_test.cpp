#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/process.h"
#include "script/run_environment.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using test::commandError;
using test::runCommand;
using test::TempDir;
using Clock = std::chrono::steady_clock;

// Answers questions by their id and records what the commands sent.
class ScriptedHost : public Host {
 public:
  std::map<std::string, Button> answers;
  std::vector<Question> asked;
  std::vector<std::pair<std::string, int>> progress_;

  void balloon(const std::string&, const std::string&) override {}
  void installFailed() override {}
  void installFinished() override {}
  void progress(const std::string& text, int percent) override { progress_.emplace_back(text, percent); }
  Button ask(const Question& question) override {
    asked.push_back(question);
    return answers.at(question.id);
  }
};

long elapsedMs(Clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

std::vector<std::string> fieldsOf(const std::string& report) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t nul; (nul = report.find('\0', start)) != std::string::npos; start = nul + 1)
    fields.push_back(report.substr(start, nul - start));
  return fields;
}

class ProcessCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = runEnvironment();
    test::useWorkingScript(dir_ / "install.ini", "[var]\nhandle=unset\n");
    fs::create_directories(dir_ / "system");
    fs::create_directories(dir_ / "install");
    runEnvironment().system = dir_ / "system";
    setInstallFolder(dir_ / "install");
    runEnvironment().silent = false;
    setHost(&host_);
  }

  void TearDown() override {
    // End and reap whatever the test started.
    for (const std::string& name : started_) runCommand("Kill", name);
    for (long number : numbers_) EXPECT_NE(waitForProcess(number, 10000), WaitResult::TimedOut);
    setHost(nullptr);
    runEnvironment() = saved_;
  }

  // A copy of a system program under a name no other process has.
  std::string program(const std::string& tag, const char* original = "/bin/sleep", std::string folder = "") {
    std::string name = "lumo-t" + std::to_string(::getpid()) + "-" + tag;
    std::string path = (folder.empty() ? dir_.path() : folder) + "/" + name;
    fs::copy_file(original, path, fs::copy_options::overwrite_existing);
    started_.push_back(name);
    return path;
  }

  // Runs the line and returns the process number it stored.
  long run(const std::string& arguments) {
    runCommand("Run", arguments + "->handle");
    long number = std::stol(GetVariable("handle"));
    if (number != 0) numbers_.push_back(number);
    return number;
  }

  TempDir dir_;
  ScriptedHost host_;
  RunEnvironment saved_;
  std::vector<std::string> started_;
  std::vector<long> numbers_;
};

TEST_F(ProcessCommands, RunRejectsBadLinesWithTheirTexts) {
  EXPECT_EQ(commandError("Run", "a|b|c->v"), "[Run] Invalid arguments (nArg!=4): a|b|c");
  EXPECT_EQ(commandError("Run", "a|b|c|d|e"), "[Run] Invalid arguments (nArg!=4): a|b|c|d|e");
  EXPECT_EQ(commandError("Run", R"(nowhere\tool.exe||0|hide)"), R"([Run] Source executable not found: nowhere\tool.exe)");
  EXPECT_EQ(commandError("WaitProcess", "1|2"), "[WaitProcess] Invalid arguments (nArg!=3): 1|2");
  EXPECT_EQ(GetVariable("handle"), "unset");
}

TEST_F(ProcessCommands, SilentRunNeverStartsTheClientInTheTwoListedSpellings) {
  runEnvironment().silent = true;
  // Skipped before the existence test, so missing files do not matter.
  runCommand("Run", R"($INSTALL\LumoClient.exe||0|show->handle)");
  runCommand("Run", R"($INSTALL\lumoclient.exe||0|show->handle)");
  EXPECT_EQ(GetVariable("handle"), "unset");
  EXPECT_EQ(commandError("Run", R"(nowhere\LUMOCLIENT.EXE||0|show)"),
            R"([Run] Source executable not found: nowhere\LUMOCLIENT.EXE)");
}

TEST_F(ProcessCommands, RunPassesParametersAsArgumentsWithoutAShell) {
  int leaked = ::open("/dev/null", O_RDONLY);  // not close-on-exec on purpose
  char ownOutput[PATH_MAX];
  ssize_t length = ::readlink("/proc/self/fd/1", ownOutput, sizeof ownOutput);
  const std::string inherited(ownOutput, length > 0 ? static_cast<std::size_t>(length) : 0);
  const struct {
    const char* show;
    bool hidden;
  } cases[] = {{"show", false}, {"Show", true}, {"hide", true}};
  for (const auto& c : cases) {
    std::string report = dir_ / (std::string("report-") + c.show);
    long number = run(std::string(LUMO_PROCESS_PROBE) + "| " + report +
                      R"( "a b" c;touch\ x $HOME `id` 中文 \"q\"  |5000|)" + c.show);
    ASSERT_GT(number, 0);
    EXPECT_EQ(exitCodeOf(number), 0) << c.show;
    std::vector<std::string> fields = fieldsOf(test::readFile(report));
    ASSERT_EQ(fields.size(), 9u) << c.show;
    EXPECT_EQ(fields[0], c.hidden ? "/dev/null" : inherited) << c.show;
    EXPECT_EQ(fields[1], "0") << "descriptors inherited";
    EXPECT_EQ(std::vector<std::string>(fields.begin() + 2, fields.end()),
              (std::vector<std::string>{"a b", "c;touch\\", "x", "$HOME", "`id`", "中文", "\"q\""}));
  }
  ::close(leaked);
  EXPECT_FALSE(test::pathExists(dir_ / "x"));
}

TEST_F(ProcessCommands, RunFindsProgramsInTheSystemFolder) {
  std::string sleeper = program("system", "/bin/sleep", dir_ / "system");
  long number = run(fs::path(sleeper).filename().string() + "|0|5000|hide");
  ASSERT_GT(number, 0);
  EXPECT_EQ(waitForProcess(number, 0), WaitResult::Ended);
  EXPECT_EQ(exitCodeOf(number), 0);
}

TEST_F(ProcessCommands, RunWaitsAtMostWaitMilliseconds) {
  std::string sleeper = program("wait");
  const struct {
    const char* seconds;
    const char* wait;
    bool endsWithin;
    long minMs, maxMs;
  } cases[] = {
      {"0.3", "20000", true, 250, 5000},  // returns as soon as the program ends
      {"30", "300", false, 280, 5000},    // the program keeps running
      {"30", "-500", false, 0, 250},      // a negative wait does not wait
      {"30", " 0x10", false, 0, 250},     // "0x10" reads as 0
  };
  for (const auto& c : cases) {
    auto start = Clock::now();
    long number = run(sleeper + "|" + c.seconds + "|" + c.wait + "|hide");
    long took = elapsedMs(start);
    ASSERT_GT(number, 0);
    EXPECT_GE(took, c.minMs) << c.wait;
    EXPECT_LE(took, c.maxMs) << c.wait;
    EXPECT_EQ(waitForProcess(number, 0) == WaitResult::Ended, c.endsWithin) << c.wait;
  }
}

TEST_F(ProcessCommands, AProgramThatCannotStartStoresZeroAndWaitProcessIgnoresIt) {
  std::string broken = dir_ / "broken";
  test::writeFile(broken, "not a program");
  ::chmod(broken.c_str(), 0755);
  EXPECT_EQ(run(broken + "||1000|hide"), 0);
  runCommand("WaitProcess", "0|100|3");
  runCommand("WaitProcess", "|100|3");
  EXPECT_TRUE(host_.progress_.empty());
}

TEST_F(ProcessCommands, WaitProcessStepsTheBarOncePerPeriodWhileTheProcessRuns) {
  std::string sleeper = program("waitprocess");
  const long running = run(sleeper + "|30|0|hide");
  const long quick = run(sleeper + "|0|5000|hide");
  const struct {
    std::string line;
    std::size_t steps;
    long maxMs;
  } cases[] = {
      {std::to_string(running) + "|100|3", 3, 3000},
      {std::to_string(quick) + "|100|3", 0, 250},
      {std::to_string(running) + "|10001|3", 0, 250},  // periods above ten seconds skip the wait
      {std::to_string(running) + "|-1|3", 0, 250},     // so does a negative one
      {std::to_string(running) + "|100|0", 0, 250},
  };
  for (const auto& c : cases) {
    host_.progress_.clear();
    auto start = Clock::now();
    runCommand("WaitProcess", c.line);
    EXPECT_LE(elapsedMs(start), c.maxMs) << c.line;
    EXPECT_EQ(host_.progress_.size(), c.steps) << c.line;
    for (const auto& step : host_.progress_) EXPECT_EQ(step, std::make_pair(std::string("Process++"), 0));
  }
}

TEST_F(ProcessCommands, WaitProcessReturnsWhenTheProcessEnds) {
  long number = run(program("ends") + "|0.4|0|hide");
  auto start = Clock::now();
  runCommand("WaitProcess", std::to_string(number) + "|2000|5");
  EXPECT_LE(elapsedMs(start), 1900);
  EXPECT_TRUE(host_.progress_.empty());
}

TEST_F(ProcessCommands, EndedChildrenAreReapedWithoutAnyoneWaiting) {
  long number = run(program("reap") + "|0.3|0|hide");
  std::optional<int> pid = processIdOf(number);
  ASSERT_TRUE(pid);
  // The process ends after 0.3 s; its /proc entry stays while it is a zombie
  // and goes once something has reaped it. Only looking, the test reaps
  // nothing itself. Without /proc it gives the reaper 1.5 s.
  const bool procMounted = ::access("/proc/self", F_OK) == 0;
  const std::string entry = "/proc/" + std::to_string(*pid);
  auto start = Clock::now();
  while (procMounted ? ::access(entry.c_str(), F_OK) == 0 && elapsedMs(start) < 5000 : elapsedMs(start) < 1500)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  int status = 0;
  EXPECT_EQ(::waitpid(*pid, &status, WNOHANG), -1) << "left as a zombie";
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(exitCodeOf(number), 0);
}

TEST_F(ProcessCommands, KillEndsEveryProcessOfTheNameWholeAndInAnyCase) {
  const std::string stem = "lumo-t" + std::to_string(::getpid()) + "-kill";
  std::vector<long> matching, spared;
  for (const char* suffix : {".EXE", ".exe"}) {
    // Two folders, so that both spellings can exist side by side.
    fs::create_directories(dir_ / suffix);
    std::string path = dir_ / (std::string(suffix) + "/" + stem + suffix);
    fs::copy_file("/bin/sleep", path);
    started_.push_back(stem + suffix);
    matching.push_back(run(path + "|30|0|hide"));
  }
  for (const char* name : {".exe.bak", "", ".ex"}) {
    std::string path = dir_ / (stem + name);
    fs::copy_file("/bin/sleep", path);
    started_.push_back(stem + name);
    spared.push_back(run(path + "|30|0|hide"));
  }
  runCommand("Kill", "lumo-t" + std::to_string(::getpid()) + "-nobody.exe");
  runCommand("Kill", stem + ".exe");
  for (long number : matching) {
    EXPECT_EQ(waitForProcess(number, 5000), WaitResult::Ended);
    EXPECT_EQ(exitCodeOf(number), 128 + SIGKILL);
  }
  for (long number : spared) EXPECT_EQ(waitForProcess(number, 0), WaitResult::TimedOut);
}

// In a sandbox the machine is the sysroot: a program of the name that runs
// from outside it (the real machine's, another sandbox's) is not ended. The
// sysroot is named through a link, as a temporary folder often is.
TEST_F(ProcessCommands, UnderASysrootKillEndsOnlyTheProgramsThatRunFromInsideIt) {
  fs::create_directories(dir_ / "root/opt");
  fs::create_directory_symlink(dir_ / "root", dir_ / "root-link");
  const std::string inside = program("sandboxed.exe", "/bin/sleep", dir_ / "root/opt");
  fs::create_directories(dir_ / "elsewhere");
  const std::string outside = program("sandboxed.exe", "/bin/sleep", dir_ / "elsewhere");
  const long insideNumber = run(inside + "|30|0|hide");
  const long outsideNumber = run(outside + "|30|0|hide");
  {
    test::ScopedEnv sysroot("LUMO_SYSROOT", dir_ / "root-link");
    runCommand("Kill", fs::path(inside).filename());
  }
  EXPECT_EQ(waitForProcess(insideNumber, 5000), WaitResult::Ended);
  EXPECT_EQ(waitForProcess(outsideNumber, 0), WaitResult::TimedOut);
}

// CheckUse against a program that holds the module open (tail -f) and one
// that runs from a file of the install folder (mapped).
class CheckUse : public ProcessCommands {
 protected:
  void SetUp() override {
    ProcessCommands::SetUp();
    module_ = "Data.dll";
    test::writeFile(dir_ / ("install/" + module_), "module");
    holder_ = program("holder", "/usr/bin/tail");
    holderNumber_ = run(holder_ + "|-f " + dir_.path() + "/install/" + module_ + "|0|hide");
    waitUntilUsed(dir_ / ("install/" + module_));
  }

  static void waitUntilUsed(const std::string& path) {
    auto start = Clock::now();
    while (findProcessesUsingFile(path).empty() && elapsedMs(start) < 5000)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  std::string module_, holder_;
  long holderNumber_ = 0;
};

TEST_F(CheckUse, AsksAndActsOnTheAnswer) {
  const std::string holderName = fs::path(holder_).filename();
  const std::string shown = dir_.path() + "/install/data.dll";
  const struct {
    Button answer;
    bool ends;
    std::string error;
  } cases[] = {
      {Button::TryAgain, false, "(no error)"},
      {Button::Cancel, false, "文件" + shown + " 被占用，无法写入！"},
      {Button::Continue, true, "(no error)"},
  };
  for (const auto& c : cases) {
    host_.asked.clear();
    host_.answers["checkuse.in-use"] = c.answer;
    EXPECT_EQ(commandError("CheckUse", module_), c.error);
    ASSERT_EQ(host_.asked.size(), 1u);
    const Question& question = host_.asked[0];
    EXPECT_EQ(question.caption, "文件被占用");
    EXPECT_EQ(question.text, "目标文件 " + shown + " 被以下程序占用: \n\n " + holderName +
                                 "\n  \n\n按'继续'结束占用程序,按'重试'忽略警告,按'取消'退出安装程序！\n");
    EXPECT_EQ(question.buttons, (std::vector<Button>{Button::Cancel, Button::TryAgain, Button::Continue}));
    EXPECT_EQ(question.defaultButton, Button::Continue);
    EXPECT_EQ(question.silentAnswer, Button::Continue);
    EXPECT_EQ(question.icon, Icon::Warning);
    EXPECT_EQ(waitForProcess(holderNumber_, c.ends ? 5000 : 0) == WaitResult::Ended, c.ends);
  }
}

TEST_F(CheckUse, SilentRunEndsTheHoldersWithoutAsking) {
  runEnvironment().silent = true;
  runCommand("CheckUse", module_);
  EXPECT_TRUE(host_.asked.empty());
  EXPECT_EQ(waitForProcess(holderNumber_, 5000), WaitResult::Ended);
}

TEST_F(CheckUse, FindsProgramsRunningFromTheInstallFolder) {
  std::string mapped = program("mapped", "/bin/sleep", dir_ / "install");
  long number = run(mapped + "|30|0|hide");
  const std::string module = fs::path(mapped).filename();
  waitUntilUsed(mapped);
  host_.answers["checkuse.in-use"] = Button::Continue;
  runCommand("CheckUse", module);
  ASSERT_EQ(host_.asked.size(), 1u);
  EXPECT_NE(host_.asked[0].text.find(" " + module + "\n"), std::string::npos) << host_.asked[0].text;
  EXPECT_EQ(waitForProcess(number, 5000), WaitResult::Ended);
  EXPECT_EQ(waitForProcess(holderNumber_, 0), WaitResult::TimedOut) << "only the user of the module ends";
}

// Scripts are written for a file system that ignores case; a file that
// exists with the exact name is still the one meant.
TEST_F(CheckUse, FindsTheModuleWhateverTheCaseOfItsName) {
  host_.answers["checkuse.in-use"] = Button::TryAgain;
  for (const char* written : {"DATA.DLL", "data.dll", ".\\dATa.Dll"}) {
    host_.asked.clear();
    runCommand("CheckUse", written);
    EXPECT_EQ(host_.asked.size(), 1u) << written;
  }
  host_.asked.clear();
  test::writeFile(dir_ / "install/DATA.DLL", "another module, used by nobody");
  runCommand("CheckUse", "DATA.DLL");
  EXPECT_TRUE(host_.asked.empty());
}

TEST_F(CheckUse, StaysQuietForModulesOutsideTheInstallFolderOrUnused) {
  test::writeFile(dir_ / "install/unused.dll", "module");
  runCommand("CheckUse", "missing.dll");
  runCommand("CheckUse", "unused.dll");
  EXPECT_TRUE(host_.asked.empty());
  EXPECT_EQ(waitForProcess(holderNumber_, 0), WaitResult::TimedOut);
}

}  // namespace
}  // namespace lumo
