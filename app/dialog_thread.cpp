#include "app/dialog_thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <condition_variable>
#include <exception>
#include <map>

#include "platform/debug_channel.h"

namespace lumo {
namespace {

void runGuarded(const Task& task) {
  try {
    task();
  } catch (const std::exception& error) {
    debugOutput(std::string("Dialog task failed: ") + error.what() + "\n");
  } catch (...) {
    debugOutput("Dialog task failed\n");
  }
}

void ensureApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "LumoInstaller";
  static char* argv[] = {name, nullptr};
  static QCoreApplication application(argc, argv);  // lives until the process ends
}

}  // namespace

int Timers::startSingleShot(std::chrono::milliseconds delay, Task task) {
  // The id is known before the tick: ticks run on the dialog thread.
  auto id = std::make_shared<int>(0);
  *id = startTimer(delay, [this, id, task = std::move(task)] {
    stopTimer(*id);
    task();
  });
  return *id;
}

struct DialogThread::Completion {
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

struct DialogThread::Loop {
  QObject receiver;  // lives on the dialog thread; queued calls land here
  std::map<int, std::unique_ptr<QTimer>> timers;
  QEventLoop* running = nullptr;
};

DialogThread::DialogThread()
    : owner_((ensureApplication(), std::this_thread::get_id())), loop_(std::make_unique<Loop>()) {}

DialogThread::~DialogThread() { quit(); }

bool DialogThread::ended() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

void DialogThread::call(Task task) {
  if (std::this_thread::get_id() == owner_) {
    task();
    return;
  }
  auto completion = std::make_shared<Completion>();
  {
    std::lock_guard lock(mutex_);
    if (ended_) return;
    queue_.push_back({std::move(task), completion});
    // The queue, not the event, carries the task: quit() can then release
    // every sender at once. The event is posted under the lock, so quit()
    // cannot end the thread between the two.
    QMetaObject::invokeMethod(&loop_->receiver, [this] { drain(); }, Qt::QueuedConnection);
  }
  completion->wait();
}

void DialogThread::post(Task task) {
  std::lock_guard lock(mutex_);
  if (ended_) return;
  queue_.push_back({std::move(task), nullptr});
  QMetaObject::invokeMethod(&loop_->receiver, [this] { drain(); }, Qt::QueuedConnection);
}

void DialogThread::drain() {
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
  }
}

int DialogThread::startTimer(std::chrono::milliseconds period, Task tick) {
  if (ended()) return 0;
  const int id = nextTimerId_++;
  auto timer = std::make_unique<QTimer>();
  timer->setInterval(period);
  QObject::connect(timer.get(), &QTimer::timeout, &loop_->receiver, [tick = std::move(tick)] { runGuarded(tick); });
  timer->start();
  loop_->timers[id] = std::move(timer);
  return id;
}

void DialogThread::stopTimer(int id) {
  // A tick may stop its own timer: the QTimer goes once control is back in
  // the event loop.
  auto found = loop_->timers.find(id);
  if (found == loop_->timers.end()) return;
  found->second->stop();
  found->second.release()->deleteLater();
  loop_->timers.erase(found);
}

void DialogThread::quit() {
  std::deque<Pending> dropped;
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
    dropped.swap(queue_);
  }
  // Senders waiting for a dropped task go on, as a send to a destroyed
  // window returns.
  for (Pending& pending : dropped) {
    if (pending.completion) pending.completion->signal();
  }
  for (auto& [id, timer] : loop_->timers) timer->stop();
  loop_->timers.clear();
  if (loop_->running) loop_->running->exit();
}

void DialogThread::run() {
  if (ended()) return;
  QEventLoop loop;
  loop_->running = &loop;
  loop.exec();
  loop_->running = nullptr;
}

}  // namespace lumo
