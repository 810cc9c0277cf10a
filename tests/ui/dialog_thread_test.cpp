#include <gtest/gtest.h>

#include <QTimer>
#include <atomic>
#include <thread>

#include "ui/qt_dialog_thread.h"

namespace lumo::ui {
namespace {

using namespace std::chrono_literals;

TEST(QtDialogThread, ACallFromAWorkerRunsOnTheDialogThreadAndWaitsForIt) {
  QtDialogThread thread;
  const auto dialogThread = std::this_thread::get_id();
  std::thread::id ranOn;
  bool returnedAfterTask = false;
  std::thread worker([&] {
    int value = 0;
    thread.call([&] {
      ranOn = std::this_thread::get_id();
      value = 42;
    });
    returnedAfterTask = value == 42;
    thread.post([&] { thread.quit(); });
  });
  thread.run();
  worker.join();
  EXPECT_EQ(ranOn, dialogThread);
  EXPECT_TRUE(returnedAfterTask);
}

TEST(QtDialogThread, EndingTheDialogReleasesWaitingCallersAndDropsLaterCalls) {
  QtDialogThread thread;
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

TEST(QtDialogThread, ServeUntilRunsTasksUntilItsConditionHoldsOrTimeIsUp) {
  QtDialogThread thread;
  bool done = false;
  std::thread worker([&] { thread.call([&] { done = true; }); });
  EXPECT_TRUE(thread.serveUntil([&] { return done; }, 5000ms));
  worker.join();

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(thread.serveUntil([] { return false; }, 30ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(QtDialogThread, ATimerTicksUntilItStopsItself) {
  QtDialogThread thread;
  int ticks = 0;
  int id = 0;
  id = thread.startTimer(5ms, [&] {
    if (++ticks == 3) thread.stopTimer(id);
  });
  thread.serveUntil([] { return false; }, 100ms);
  EXPECT_EQ(ticks, 3);
}

}  // namespace
}  // namespace lumo::ui
