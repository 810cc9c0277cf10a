#include "engine_test_support.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "app/dialog_flow.h"
#include "platform/text.h"
#include "script/script_engine.h"

namespace lumo::test {
namespace {

std::mutex recordsMutex;
std::vector<std::string> lines;
std::vector<std::string> reports;

void Record(const CommandContext&, const CommandArguments& arguments) {
  std::lock_guard lock(recordsMutex);
  lines.push_back(arguments.text);
}

void Fail(const CommandContext&, const CommandArguments& arguments) { throw ScriptError("[Fail] " + arguments.text); }

void Crash(const CommandContext&, const CommandArguments&) { throw std::logic_error("not a script error"); }

// Keeps the line's text as written: the fields, then "+" and the extension.
void SendLogRecorder(const CommandContext&, const CommandArguments& arguments) {
  std::lock_guard lock(recordsMutex);
  reports.push_back(arguments.text + (arguments.extension ? "+" + *arguments.extension : ""));
}

}  // namespace

std::vector<std::string> recordedLines() {
  std::lock_guard lock(recordsMutex);
  return lines;
}

std::vector<std::string> sentReports() {
  std::lock_guard lock(recordsMutex);
  return reports;
}

void clearRecords() {
  std::lock_guard lock(recordsMutex);
  lines.clear();
  reports.clear();
}

void registerTestVerbs() {
  registerHandler("Record", Record);
  registerHandler("Fail", Fail);
  registerHandler("Crash", Crash);
  registerHandler("SendLog", SendLogRecorder);
}

std::string logText(const std::string& path) { return gbkToUtf8(readFile(path)); }

ScopedRun::ScopedRun(const TempDir& dir, bool installMode, std::string_view script) : saved_(runEnvironment()) {
  registerTestVerbs();
  clearRecords();
  RunEnvironment& env = runEnvironment();
  env = RunEnvironment{};
  env.installMode = installMode;
  env.silent = true;
  env.installer = dir / "setup/LumoInstaller";
  env.curPath = dir / "setup/";
  env.kernel = dir / "kernel";
  env.programFiles = dir / "programs";
  env.tempDir = dir / "tmp/";
  env.logPath = dir / "setup/LumoInstaller.log";
  useWorkingScript(dir / "setup/install.ini", script);
  openExecutionLog(env.logPath);
  // The flows never send an event where it has no transition.
  setTransitionFault([](const std::string& why) { ADD_FAILURE() << why; });
}

ScopedRun::~ScopedRun() {
  setTransitionFault({});
  closeExecutionLog();
  runEnvironment() = saved_;
}

}  // namespace lumo::test
