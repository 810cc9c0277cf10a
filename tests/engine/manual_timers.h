// A clock of the test's own for the flows' timers: nothing fires until the
// test moves it on, so a flow test never sleeps through a wait and checks a
// timing rule by moving the clock just short of and past its moment.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "app/dialog_thread.h"

class QObject;

namespace lumo::test {

class ManualTimers final : public Timers {
 public:
  // On the dialog thread: the ticks run there.
  ManualTimers();
  ~ManualTimers() override;
  ManualTimers(const ManualTimers&) = delete;
  ManualTimers& operator=(const ManualTimers&) = delete;

  int startTimer(std::chrono::milliseconds period, Task tick) override;
  void stopTimer(int id) override;

  // Moves the clock on by `step` and runs, in the order they fall due, the
  // ticks due on the way (a repeating timer each time it is due). From
  // another thread the ticks run on the dialog thread's event loop; false
  // when that loop did not get to them within `limit`.
  bool advance(std::chrono::milliseconds step,
               std::chrono::milliseconds limit = std::chrono::milliseconds(10000));
  // Time since the clock was made.
  std::chrono::milliseconds now() const;
  // Timers of `period` started and not yet stopped (a single shot stops
  // when it fires).
  int running(std::chrono::milliseconds period) const;
  // Waits, from any thread, until a timer of `period` runs.
  bool waitForTimer(std::chrono::milliseconds period,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

 private:
  struct Timer {
    std::chrono::milliseconds due;
    std::chrono::milliseconds period;
    std::shared_ptr<Task> tick;
  };
  void advanceHere(std::chrono::milliseconds step);
  int runningLocked(std::chrono::milliseconds period) const;

  std::unique_ptr<QObject> receiver_;  // lives on the dialog thread
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int, Timer> timers_;
  std::chrono::milliseconds now_{0};
  int nextId_ = 1;
};

}  // namespace lumo::test
