#include "ui/qt_dialog_thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <condition_variable>
#include <exception>

#include "platform/debug_channel.h"

namespace lumo::ui {

struct QtDialogThread::Completion {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;

  void signal() {
    std::lock_guard lock(mutex);
    done = true;
    finished.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex);
    finished.wait(lock, [this] { return done; });
  }
};

struct QtDialogThread::Wait {
  explicit Wait(const std::function<bool()>& predicate) : done(predicate) {}
  const std::function<bool()>& done;
  QEventLoop loop;
};

QtDialogThread::QtDialogThread() : owner_(std::this_thread::get_id()) {}

QtDialogThread::~QtDialogThread() { quit(); }

bool QtDialogThread::ended() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

void QtDialogThread::call(Task task) {
  if (std::this_thread::get_id() == owner_) {
    task();
    return;
  }
  auto completion = std::make_shared<Completion>();
  {
    std::lock_guard lock(mutex_);
    if (ended_) return;
    queue_.push_back({std::move(task), completion});
  }
  // The queue, not the event, carries the task: quit() can then release
  // every sender at once, as a send to a destroyed window returns.
  QMetaObject::invokeMethod(&receiver_, [this] { drain(); }, Qt::QueuedConnection);
  completion->wait();
}

void QtDialogThread::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    if (ended_) return;
    queue_.push_back({std::move(task), nullptr});
  }
  QMetaObject::invokeMethod(&receiver_, [this] { drain(); }, Qt::QueuedConnection);
}

void QtDialogThread::drain() {
  for (;;) {
    Pending pending;
    {
      std::lock_guard lock(mutex_);
      if (ended_ || queue_.empty()) return;
      pending = std::move(queue_.front());
      queue_.pop_front();
    }
    runGuarded(pending.task);
    if (pending.completion) pending.completion->signal();
    afterTask();
  }
}

void QtDialogThread::runGuarded(const Task& task) {
  try {
    task();
  } catch (const std::exception& error) {
    debugOutput(std::string("Dialog task failed: ") + error.what() + "\n");
  } catch (...) {
    debugOutput("Dialog task failed\n");
  }
}

void QtDialogThread::afterTask() {
  // Only tasks and timers change what a waiter waits for.
  for (Wait* wait : waits_) {
    if (wait->done()) wait->loop.exit();
  }
}

int QtDialogThread::startTimer(std::chrono::milliseconds period, Task tick) {
  const int id = nextTimerId_++;
  auto timer = std::make_unique<QTimer>();
  timer->setInterval(period);
  QObject::connect(timer.get(), &QTimer::timeout, &receiver_, [this, tick = std::move(tick)] {
    runGuarded(tick);
    afterTask();
  });
  timer->start();
  timers_[id] = std::move(timer);
  return id;
}

void QtDialogThread::stopTimer(int id) {
  // A tick may stop its own timer: the QTimer goes once control is back in
  // the event loop.
  auto found = timers_.find(id);
  if (found == timers_.end()) return;
  found->second->stop();
  found->second.release()->deleteLater();
  timers_.erase(found);
}

void QtDialogThread::quit() {
  std::deque<Pending> dropped;
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
    dropped.swap(queue_);
  }
  for (Pending& pending : dropped) {
    if (pending.completion) pending.completion->signal();
  }
  for (auto& [id, timer] : timers_) timer->stop();
  timers_.clear();
  for (Wait* wait : waits_) wait->loop.exit();
  if (mainLoop_) mainLoop_->exit();
}

void QtDialogThread::run() {
  if (ended()) return;
  if (opening_) opening_();
  if (ended()) return;
  QEventLoop loop;
  mainLoop_ = &loop;
  loop.exec();
  mainLoop_ = nullptr;
}

bool QtDialogThread::serveUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  if (done()) return true;
  if (ended()) return false;
  Wait wait(done);
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.setTimerType(Qt::PreciseTimer);
  QObject::connect(&deadline, &QTimer::timeout, &wait.loop, [&wait] { wait.loop.exit(); });
  deadline.start(limit);
  waits_.push_back(&wait);
  wait.loop.exec();
  std::erase(waits_, &wait);
  return done();
}

}  // namespace lumo::ui
