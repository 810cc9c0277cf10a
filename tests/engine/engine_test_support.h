// Test verbs and a recording host for the engine and flow tests.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialog_contract.h"
#include "script/host.h"
#include "script/run_environment.h"
#include "support/test_support.h"

namespace lumo::test {

// The [var] section the flow tests run with: the texts that end runs.
inline constexpr std::string_view kFlowVars =
    "[var]\n"
    "app_version=1.4.136.6\n"
    "msg_complete=安装完成\n"
    "msg_close=正在关闭\n"
    "msg_cancel_complete=回滚完成\n"
    "msg_removed=卸载完成\n";

// Lines the test verb "Record" received, in order, and what "SendLog"
// received (the real one would report over the network).
std::vector<std::string> recordedLines();
std::vector<std::string> sentReports();
void clearRecords();

// Registers Record, Fail ("[Fail] " + text), Crash (a non-script
// exception) and Hold, and replaces SendLog with a recorder.
void registerTestVerbs();

// "Hold name" stops its section there until the test lets it go on, so a
// section outlives a wait without sleeping. ScopedRun lets every hold go
// when it ends.
bool waitUntilHeld(const std::string& name, std::chrono::milliseconds limit = std::chrono::milliseconds(10000));
void letGo(const std::string& name);
void letEveryHoldGo();

// The execution log's bytes as UTF-8 (GBK decoded, CR LF kept).
std::string logText(const std::string& path);

// A run environment for one test inside `dir`; restores the old one after.
class ScopedRun {
 public:
  ScopedRun(const TempDir& dir, bool installMode, std::string_view script);
  ~ScopedRun();
  const std::string& logPath() const { return runEnvironment().logPath; }

 private:
  RunEnvironment saved_;
};

// A host without a dialog that records what it receives.
class RecordingHost final : public Host {
 public:
  RecordingHost() { setHost(this); }
  ~RecordingHost() override { setHost(nullptr); }

  void balloon(const std::string& title, const std::string& text) override { add("balloon " + title + "|" + text); }
  void installFailed() override { add("installFailed"); }
  void installFinished() override { add("installFinished"); }
  void progress(const std::string& text, int percent) override {
    add("progress " + text + "|" + std::to_string(percent));
  }
  Button ask(const Question& question) override {
    add("ask " + question.id + ": " + question.text);
    return question.silentAnswer;
  }
  std::vector<std::string> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  void add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  std::mutex mutex_;
  std::vector<std::string> events_;
};

// The flows' waits as the product has them: a test's own clock
// (manual_timers.h) passes them at no cost. Only the wait for the workers
// at the end of a run is real; it is longer for slow builds.
inline FlowTimings flowTimings() {
  FlowTimings timings;
  timings.workerExitWait = std::chrono::milliseconds(5000);
  return timings;
}

// Waits until `done` holds, at most `limit`, for a condition that no event
// announces (a worker thread's end); it looks again every millisecond.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// Lets the dialog thread's event loop turn until `done` holds, at most
// `limit`, without sleeping while events wait.
bool turnUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

}  // namespace lumo::test
