// Helpers of the window tests: they run on Qt's offscreen platform and make
// their own skin images (solid colours, so a pixel tells which image lies
// where).
#pragma once

#include <QImage>
#include <map>

namespace lumo::test {

// Solid images of the table's sizes, one colour each, served as the skin
// for as long as the object lives. `leaveOut` ids are missing.
class TestSkin {
 public:
  explicit TestSkin(std::initializer_list<int> leaveOut = {});
  ~TestSkin();
  static QRgb colourOf(int id);  // opaque and different for every id
};

}  // namespace lumo::test

#include <QTest>
#include <chrono>
#include <functional>

#include "app/dialog_host.h"
#include "app/dialog_thread.h"
#include "app/worker_threads.h"
#include "../engine/engine_test_support.h"
#include "../engine/manual_timers.h"
#include "script/host.h"

namespace lumo::test {

// One windowed run of a flow in process, as the run object makes it: the
// dialog thread, the flow, its window and the host; the test drives the
// window, lets the event loop turn while it waits and moves the run's
// clock (nothing fires unless it does).
template <typename Flow, typename Window>
class WindowedRun {
 public:
  explicit WindowedRun(FlowTimings timings) : flow_(thread_, timers_, timings), window_(flow_), host_(thread_, flow_) {
    flow_.setWindow(window_);
    setHost(&host_);
  }
  ~WindowedRun() {
    // The dialog ends first, as at the end of a real run, so a worker still
    // sending to it is released before it is waited for.
    thread_.quit();
    waitForWorkers(std::chrono::milliseconds(3000));
    setHost(nullptr);
  }
  WindowedRun(const WindowedRun&) = delete;
  WindowedRun& operator=(const WindowedRun&) = delete;

  void start() { flow_.start(); }
  // Turns the event loop until `done` holds, at most `limit`.
  bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    return turnUntil(done, limit);
  }
  bool ended() const { return thread_.ended(); }
  ManualTimers& timers() { return timers_; }
  // Once the closing text has started the close timer, moves the clock
  // on by the close delay.
  bool passCloseDelay() {
    const std::chrono::milliseconds delay = flow_.timings().closeTimer;
    return waitFor([&] { return timers_.running(delay) > 0; }) && timers_.advance(delay);
  }
  Flow& flow() { return flow_; }
  Window& window() { return window_; }

 private:
  DialogThread thread_;
  ManualTimers timers_;
  Flow flow_;
  Window window_;
  DialogHost host_;
};

}  // namespace lumo::test
