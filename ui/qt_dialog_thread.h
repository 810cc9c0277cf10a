// The dialog thread of a windowed run: the Qt event loop of the main thread.
// Workers reach the windows only through call(), which waits until the task
// has run there; no worker ever touches a widget.
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/dialog_thread.h"

namespace lumo::ui {

class QtDialogThread final : public DialogThread {
 public:
  // On the thread that runs the Qt event loop, after the application object
  // exists.
  QtDialogThread();
  ~QtDialogThread() override;
  QtDialogThread(const QtDialogThread&) = delete;
  QtDialogThread& operator=(const QtDialogThread&) = delete;

  bool ended() const;

  void call(Task task) override;
  void post(Task task) override;
  bool serveUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override;
  int startTimer(std::chrono::milliseconds period, Task tick) override;
  void stopTimer(int id) override;
  // Serves the event loop until quit(); `opening` runs first, unless the
  // dialog has already ended (the window shows once initialisation is over).
  void run() override;
  void quit() override;
  void setOpening(Task opening) { opening_ = std::move(opening); }

 private:
  struct Completion;
  struct Pending {
    Task task;
    std::shared_ptr<Completion> completion;  // null for posted tasks
  };
  struct Wait;

  void enqueue(Pending pending);
  void drain();
  void runGuarded(const Task& task);
  void afterTask();

  const std::thread::id owner_;
  QObject receiver_;  // lives on the dialog thread; queued calls land here
  mutable std::mutex mutex_;
  std::deque<Pending> queue_;
  bool ended_ = false;
  std::map<int, std::unique_ptr<QTimer>> timers_;
  int nextTimerId_ = 1;
  std::vector<Wait*> waits_;  // nested loops of serveUntil, innermost last
  QEventLoop* mainLoop_ = nullptr;
  Task opening_;
};

}  // namespace lumo::ui
