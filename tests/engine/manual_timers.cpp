#include "manual_timers.h"

#include <QObject>
#include <QThread>
#include <algorithm>

namespace lumo::test {

ManualTimers::ManualTimers() : receiver_(std::make_unique<QObject>()) {}

ManualTimers::~ManualTimers() = default;

int ManualTimers::startTimer(std::chrono::milliseconds period, Task tick) {
  std::lock_guard lock(mutex_);
  const int id = nextId_++;
  timers_[id] = {now_ + period, period, std::make_shared<Task>(std::move(tick))};
  changed_.notify_all();
  return id;
}

void ManualTimers::stopTimer(int id) {
  std::lock_guard lock(mutex_);
  timers_.erase(id);
  changed_.notify_all();
}

std::chrono::milliseconds ManualTimers::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

int ManualTimers::runningLocked(std::chrono::milliseconds period) const {
  return static_cast<int>(
      std::count_if(timers_.begin(), timers_.end(), [&](const auto& timer) { return timer.second.period == period; }));
}

int ManualTimers::running(std::chrono::milliseconds period) const {
  std::lock_guard lock(mutex_);
  return runningLocked(period);
}

bool ManualTimers::waitForTimer(std::chrono::milliseconds period, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return runningLocked(period) > 0; });
}

void ManualTimers::advanceHere(std::chrono::milliseconds step) {
  std::unique_lock lock(mutex_);
  const auto target = now_ + step;
  for (;;) {
    // The earliest due; of two due at once, the one started first.
    auto next = std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
      return a.second.due < b.second.due;
    });
    if (next == timers_.end() || next->second.due > target) break;
    now_ = next->second.due;
    // A repeating timer of no period would be due for ever at one moment.
    next->second.due += std::max(next->second.period, std::chrono::milliseconds(1));
    std::shared_ptr<Task> tick = next->second.tick;
    // The tick may start and stop timers, its own included.
    lock.unlock();
    (*tick)();
    lock.lock();
  }
  now_ = target;
  changed_.notify_all();
}

bool ManualTimers::advance(std::chrono::milliseconds step, std::chrono::milliseconds limit) {
  if (QThread::currentThread() == receiver_->thread()) {
    advanceHere(step);
    return true;
  }
  struct Done {
    std::mutex mutex;
    std::condition_variable ran;
    bool done = false;
  };
  auto done = std::make_shared<Done>();
  QMetaObject::invokeMethod(
      receiver_.get(),
      [this, step, done] {
        advanceHere(step);
        std::lock_guard lock(done->mutex);
        done->done = true;
        done->ran.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(done->mutex);
  return done->ran.wait_for(lock, limit, [&] { return done->done; });
}

}  // namespace lumo::test
