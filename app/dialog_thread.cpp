#include "app/dialog_thread.h"

#include <exception>

#include "platform/debug_channel.h"

namespace lumo {

int DialogThread::startSingleShot(std::chrono::milliseconds delay, Task task) {
  // The id is known before the first tick: ticks run on this same thread.
  auto id = std::make_shared<int>(0);
  *id = startTimer(delay, [this, id, task = std::move(task)] {
    stopTimer(*id);
    task();
  });
  return *id;
}

struct TaskLoop::Completion {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;

  void signal() {
    std::lock_guard lock(mutex);
    done = true;
    finished.notify_all();
  }
};

TaskLoop::TaskLoop() : owner_(std::this_thread::get_id()) {}

TaskLoop::~TaskLoop() { quit(); }

bool TaskLoop::ended() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

void TaskLoop::call(Task task) {
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
  wakeUp_.notify_all();
  std::unique_lock lock(completion->mutex);
  completion->finished.wait(lock, [&] { return completion->done; });
}

void TaskLoop::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    if (ended_) return;
    queue_.push_back({std::move(task), nullptr});
  }
  wakeUp_.notify_all();
}

int TaskLoop::startTimer(std::chrono::milliseconds period, Task tick) {
  std::lock_guard lock(mutex_);
  int id = nextTimerId_++;
  timers_[id] = Timer{period, Clock::now() + period, std::move(tick)};
  wakeUp_.notify_all();
  return id;
}

void TaskLoop::stopTimer(int id) {
  std::lock_guard lock(mutex_);
  timers_.erase(id);
}

void TaskLoop::quit() {
  std::unique_lock lock(mutex_);
  ended_ = true;
  drop(lock);
  wakeUp_.notify_all();
}

void TaskLoop::drop(std::unique_lock<std::mutex>&) {
  // Senders waiting for a dropped task go on, as a send to a destroyed
  // window returns.
  for (Pending& pending : queue_) {
    if (pending.completion) pending.completion->signal();
  }
  queue_.clear();
  timers_.clear();
}

void TaskLoop::run() {
  while (serveOne(Clock::time_point::max())) {
  }
}

bool TaskLoop::serveUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  while (!done()) {
    if (!serveOne(deadline)) return done();
  }
  return true;
}

bool TaskLoop::serveOne(Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (ended_) return false;
    Task task;
    std::shared_ptr<Completion> completion;
    Clock::time_point wakeAt = deadline;
    if (!queue_.empty()) {
      task = std::move(queue_.front().task);
      completion = std::move(queue_.front().completion);
      queue_.pop_front();
    } else {
      const Clock::time_point now = Clock::now();
      for (auto& [id, timer] : timers_) {
        if (timer.due <= now) {
          timer.due = now + timer.period;
          task = timer.tick;
          break;
        }
        wakeAt = std::min(wakeAt, timer.due);
      }
    }
    if (task) {
      lock.unlock();
      try {
        task();
      } catch (const std::exception& error) {
        debugOutput(std::string("Dialog task failed: ") + error.what() + "\n");
      } catch (...) {
        debugOutput("Dialog task failed\n");
      }
      if (completion) completion->signal();
      return true;
    }
    if (Clock::now() >= deadline) return false;
    if (wakeAt == Clock::time_point::max()) {
      wakeUp_.wait(lock);
    } else {
      wakeUp_.wait_until(lock, wakeAt);
    }
  }
}

}  // namespace lumo
