// The dialog thread: the one thread on which the run decides and the windows
// show, served by Qt Core's event loop. A windowed run's application object
// serves it; a silent run gets a core application, which never connects to a
// display. Workers reach it only through call(), which returns after the task
// has run there (the synchronous window messages 2019 to 2023), or post().
// Nothing on it ever waits for a worker: waiting is a phase of the run.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace lumo {

using Task = std::function<void()>;

// Where the run's timers come from. The dialog thread's own are Qt timers;
// a test hands the run timers that it fires itself, so no test sleeps
// through a close delay.
class Timers {
 public:
  virtual ~Timers() = default;
  // Runs `tick` on the dialog thread every `period` until stopped.
  virtual int startTimer(std::chrono::milliseconds period, Task tick) = 0;
  virtual void stopTimer(int id) = 0;
  // Runs `task` once after `delay`; stopTimer() cancels it before then.
  int startSingleShot(std::chrono::milliseconds delay, Task task);
};

class DialogThread final : public Timers {
 public:
  // On the thread that serves it. Makes a core application when the process
  // has no application object yet (a silent run, a test of the flows).
  DialogThread();
  ~DialogThread() override;
  DialogThread(const DialogThread&) = delete;
  DialogThread& operator=(const DialogThread&) = delete;

  // Runs `task` on the dialog thread and returns once it has run; on the
  // dialog thread itself it runs at once. After the end the task is dropped,
  // as a message to a window that no longer exists.
  void call(Task task);
  // Queues `task` for the dialog thread and returns at once.
  void post(Task task);

  int startTimer(std::chrono::milliseconds period, Task tick) override;
  void stopTimer(int id) override;

  // Serves tasks and timers until quit().
  void run();
  // Ends the dialog: run() returns; waiting senders are released, queued
  // and later tasks dropped, timers stopped.
  void quit();
  bool ended() const;

 private:
  struct Completion;
  struct Pending {
    Task task;
    std::shared_ptr<Completion> completion;  // null for posted tasks
  };
  // The Qt side: the receiver of queued calls, the timers and the loop. Qt
  // stays out of this header, so what includes it builds without Qt.
  struct Loop;

  void drain();

  const std::thread::id owner_;
  std::unique_ptr<Loop> loop_;
  mutable std::mutex mutex_;
  std::deque<Pending> queue_;
  bool ended_ = false;
  int nextTimerId_ = 1;
};

}  // namespace lumo
