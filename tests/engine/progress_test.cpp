#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/dialog_thread.h"
#include "app/install_flow.h"
#include "engine_test_support.h"
#include "manual_timers.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using test::RecordingHost;
using test::ScopedRun;
using test::TempDir;

void call(std::string_view verb, const std::string& arguments) { callCommand(currentCommandContext(), verb, arguments); }

TEST(Progress, NotifySendsTheTextWithAClampedPercentage) {
  RecordingHost host;
  const struct {
    std::string arguments, event;
  } cases[] = {
      {"正在初始化...|2", "progress 正在初始化...|2"},
      {"a|150", "progress a|100"},
      {"a|-5", "progress a|0"},
      {"a|x7", "progress a|0"},
      {"a| 42%", "progress a|42"},
      {"|35", "progress |35"},
      {"Process++|0", "progress Process++|0"},
  };
  for (const auto& c : cases) call("Notify", c.arguments);
  std::vector<std::string> expected;
  for (const auto& c : cases) expected.push_back(c.event);
  EXPECT_EQ(host.events(), expected);
}

TEST(Progress, NotifyNeedsExactlyTwoFields) {
  RecordingHost host;
  for (std::string arguments : {"only", "a|1|2", ""}) {
    try {
      call("Notify", arguments);
      ADD_FAILURE() << arguments;
    } catch (const ScriptError& error) {
      EXPECT_EQ(std::string(error.what()), "[Notify] Invalid arguments (nArg!=2): " + arguments);
    }
  }
  EXPECT_TRUE(host.events().empty());
}

TEST(Progress, NotifyOkIgnoresItsArgumentsAndSleepReturnsAtOnceForNothing) {
  RecordingHost host;
  call("NotifyOK", "");
  call("NotifyOK", "whatever");
  EXPECT_EQ(host.events(), (std::vector<std::string>{"installFinished", "installFinished"}));
  auto start = std::chrono::steady_clock::now();
  for (std::string count : {"0", "", "abc", "-5", "-2147483648"}) call("SleepMiliSeconds", count);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  start = std::chrono::steady_clock::now();
  call("SleepMiliSeconds", "120");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 120ms);
}

TEST(Orchestration, IsInstalledNewerComparesFourNumericComponents) {
  TempDir dir;
  ScopedRun run(dir, true, "[var]\napp_version=1.4.136.6\n");
  const struct {
    std::string installed;
    bool newer;
  } cases[] = {
      {"", false},           {"1.4.136.6", false}, {"1.4.137", true},       {"1.4.136.7", true},
      {"1.4.135.99", false}, {"2", true},          {"1.4.136.6.9", false},  {"1.10.0.0", true},
      {"1.4.x.9", false},    {"01.04.136.06", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsInstalledNewer(c.installed), c.newer) << c.installed;
}

TEST(DialogThread, AWorkerWaitsUntilTheDialogHandledItsCall) {
  DialogThread thread;
  const auto dialogThread = std::this_thread::get_id();
  std::thread::id ranOn;
  std::atomic<bool> sawHandled{false};
  std::thread worker([&] {
    int handled = 0;
    thread.call([&] {
      ranOn = std::this_thread::get_id();
      handled = 1;
    });
    sawHandled = handled == 1;
    thread.post([&] { thread.quit(); });
  });
  thread.run();
  worker.join();
  EXPECT_TRUE(sawHandled);
  EXPECT_EQ(ranOn, dialogThread);
}

TEST(DialogThread, EndingTheDialogReleasesWaitingCallersAndDropsLaterCalls) {
  DialogThread thread;
  std::atomic<int> ran = 0;
  std::thread worker([&] {
    // The dialog is busy while the call is queued, then ends without
    // serving it: the caller goes on, as a send to a destroyed window returns.
    thread.post([&] {
      std::this_thread::sleep_for(50ms);
      thread.quit();
    });
    thread.call([&] { ++ran; });
    thread.call([&] { ++ran; });  // after the end: dropped at once
  });
  thread.run();
  worker.join();
  EXPECT_EQ(ran, 0);
}

TEST(DialogThread, TimersTickUntilStoppedAndASingleShotOnce) {
  DialogThread thread;
  int ticks = 0;
  int shots = 0;
  thread.startSingleShot(1ms, [&] { ++shots; });
  int timer = 0;
  timer = thread.startTimer(1ms, [&] {
    if (++ticks == 3) {
      thread.stopTimer(timer);
      thread.startSingleShot(5ms, [&] { thread.quit(); });
    }
  });
  thread.run();
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(shots, 1);
}

// The flow tests' clock: a timer fires only when the clock reaches it, in
// the order due, a repeating one at each period, and not once stopped.
TEST(ManualTimers, FireWhatFallsDueInOrderAndNothingEarly) {
  test::ManualTimers clock;
  std::vector<std::string> fired;
  int ticker = clock.startTimer(30ms, [&] { fired.push_back("tick@" + std::to_string(clock.now().count())); });
  clock.startSingleShot(50ms, [&] {
    fired.push_back("shot@" + std::to_string(clock.now().count()));
    clock.startSingleShot(5ms, [&] { fired.push_back("inner@" + std::to_string(clock.now().count())); });
  });
  clock.advance(29ms);
  EXPECT_TRUE(fired.empty());
  clock.advance(31ms);
  EXPECT_EQ(fired, (std::vector<std::string>{"tick@30", "shot@50", "inner@55", "tick@60"}));
  EXPECT_EQ(clock.running(50ms) + clock.running(5ms), 0) << "single shots stop";
  clock.stopTimer(ticker);
  clock.advance(1000ms);
  EXPECT_EQ(fired.size(), 4u);
  EXPECT_EQ(clock.now(), 1060ms);
}

}  // namespace
}  // namespace lumo
