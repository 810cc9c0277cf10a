#include "engine_test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <condition_variable>
#include <set>
#include <stdexcept>
#include <thread>

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
struct Holds {
  std::mutex mutex;
  std::condition_variable changed;
  std::set<std::string> held;
  std::set<std::string> letGo;
  int generation = 0;  // a new one lets every earlier hold go
};

Holds& holds() {
  static Holds instance;
  return instance;
}

void Hold(const CommandContext&, const CommandArguments& arguments) {
  Holds& h = holds();
  std::unique_lock lock(h.mutex);
  const int generation = h.generation;
  h.held.insert(arguments.text);
  h.changed.notify_all();
  h.changed.wait(lock, [&] { return h.generation != generation || h.letGo.contains(arguments.text); });
}

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

bool waitUntilHeld(const std::string& name, std::chrono::milliseconds limit) {
  Holds& h = holds();
  std::unique_lock lock(h.mutex);
  return h.changed.wait_for(lock, limit, [&] { return h.held.contains(name); });
}

void letGo(const std::string& name) {
  Holds& h = holds();
  std::lock_guard lock(h.mutex);
  h.letGo.insert(name);
  h.changed.notify_all();
}

void letEveryHoldGo() {
  Holds& h = holds();
  std::lock_guard lock(h.mutex);
  ++h.generation;
  h.held.clear();
  h.letGo.clear();
  h.changed.notify_all();
}

void registerTestVerbs() {
  registerHandler("Record", Record);
  registerHandler("Fail", Fail);
  registerHandler("Crash", Crash);
  registerHandler("Hold", Hold);
  registerHandler("SendLog", SendLogRecorder);
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool turnUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  // A condition that a worker changes without sending an event (a line it
  // recorded, its end) is looked at again every millisecond.
  QTimer wake;
  wake.start(std::chrono::milliseconds(1));
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

std::string logText(const std::string& path) { return gbkToUtf8(readFile(path)); }

ScopedRun::ScopedRun(const TempDir& dir, bool installMode, std::string_view script) : saved_(runEnvironment()) {
  registerTestVerbs();
  clearRecords();
  letEveryHoldGo();
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
  letEveryHoldGo();
  setTransitionFault({});
  closeExecutionLog();
  runEnvironment() = saved_;
}

}  // namespace lumo::test
