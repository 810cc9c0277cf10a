// The dialog thread: the one thread on which a dialog and its flow run.
// Workers reach it only through call(), which returns after the dialog has
// handled the task (the synchronous window messages 2019 to 2023). The
// dialog never waits for a worker while handling a task; it may start the
// next worker from inside one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace lumo {

using Task = std::function<void()>;

class DialogThread {
 public:
  virtual ~DialogThread() = default;

  // Runs `task` on the dialog thread and returns once it has run; on the
  // dialog thread itself it runs at once. After the dialog has ended the
  // task is dropped, as a message to a window that no longer exists.
  virtual void call(Task task) = 0;

  // Queues `task` for the dialog thread and returns at once.
  virtual void post(Task task) = 0;

  // On the dialog thread: handles tasks and timers until `done` holds, the
  // time is up or the dialog ends. Returns whether `done` holds.
  virtual bool serveUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) = 0;

  // A timer that runs `tick` on the dialog thread every `period` until it
  // is stopped. Returns its id.
  virtual int startTimer(std::chrono::milliseconds period, Task tick) = 0;
  virtual void stopTimer(int id) = 0;

  // A timer that runs `task` once, after `delay`. On the dialog thread.
  // Returns its id (stopTimer() cancels it before it runs).
  int startSingleShot(std::chrono::milliseconds delay, Task task);

  // Serves tasks and timers until quit(): the dialog's modal loop.
  virtual void run() = 0;

  // Ends the dialog: run() returns, queued and later tasks are dropped.
  virtual void quit() = 0;
};

// A dialog thread of its own making: a task queue with timers, served by
// the thread that constructed it.
class TaskLoop final : public DialogThread {
 public:
  TaskLoop();
  ~TaskLoop() override;
  TaskLoop(const TaskLoop&) = delete;
  TaskLoop& operator=(const TaskLoop&) = delete;

  bool ended() const;

  void run() override;
  void call(Task task) override;
  void post(Task task) override;
  bool serveUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override;
  int startTimer(std::chrono::milliseconds period, Task tick) override;
  void stopTimer(int id) override;
  void quit() override;

 private:
  using Clock = std::chrono::steady_clock;
  struct Completion;
  struct Pending {
    Task task;
    std::shared_ptr<Completion> completion;  // null for posted tasks
  };
  struct Timer {
    std::chrono::milliseconds period;
    Clock::time_point due;
    Task tick;
  };

  // Runs one task or one due timer, waiting for one until `deadline`.
  // Returns false when nothing ran (time is up, or the dialog ended).
  bool serveOne(Clock::time_point deadline);
  void drop(std::unique_lock<std::mutex>& lock);

  const std::thread::id owner_;
  mutable std::mutex mutex_;
  std::condition_variable wakeUp_;
  std::deque<Pending> queue_;
  std::map<int, Timer> timers_;
  int nextTimerId_ = 1;
  bool ended_ = false;
};

}  // namespace lumo
