#include "app/worker_threads.h"

#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/debug_channel.h"
#include "script/dispatcher.h"

namespace lumo {
namespace {

struct Worker {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
};

struct Workers {
  std::mutex mutex;
  std::list<std::shared_ptr<Worker>> list;
};

Workers& workers() {
  static Workers instance;
  return instance;
}

}  // namespace

void startWorker(SectionList list, std::function<void()> ended) {
  auto worker = std::make_shared<Worker>();
  {
    std::lock_guard lock(workers().mutex);
    workers().list.push_back(worker);
  }
  // The thread holds only a weak handle of its record, so the record may go
  // once the run no longer waits for it.
  std::weak_ptr<Worker> self = worker;
  worker->thread = std::thread([section = std::move(list), ended = std::move(ended), self]() mutable {
    SectionThreadProc(section);
    section.clear();
    if (ended) ended();
    if (auto record = self.lock()) {
      std::lock_guard lock(record->mutex);
      record->done = true;
      record->finished.notify_all();
    }
  });
}

int runningWorkers() {
  std::lock_guard lock(workers().mutex);
  int running = 0;
  for (const auto& worker : workers().list) {
    std::lock_guard workerLock(worker->mutex);
    if (!worker->done) ++running;
  }
  return running;
}

void waitForWorkers(std::chrono::milliseconds limit) {
  std::list<std::shared_ptr<Worker>> list;
  {
    std::lock_guard lock(workers().mutex);
    list = workers().list;
  }
  for (auto& worker : list) {
    bool done;
    {
      std::unique_lock lock(worker->mutex);
      done = worker->finished.wait_for(lock, limit, [&] { return worker->done; });
    }
    if (done) {
      if (worker->thread.joinable()) worker->thread.join();
      std::lock_guard lock(workers().mutex);
      workers().list.remove(worker);
    } else if (worker->thread.joinable()) {
      // It ends with the process; it stays registered as running.
      debugOutput("A worker thread is still running at the end of the run\n");
      worker->thread.detach();
    }
  }
}

}  // namespace lumo
