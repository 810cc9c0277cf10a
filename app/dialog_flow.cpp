#include "app/dialog_flow.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "app/exit_status.h"
#include "app/worker_threads.h"
#include "platform/debug_channel.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "script/dispatcher.h"

namespace lumo {
namespace {

TransitionFault& transitionFault() {
  static TransitionFault fault;
  return fault;
}

}  // namespace

void setTransitionFault(TransitionFault fault) { transitionFault() = std::move(fault); }

void reportTransitionFault(const std::string& why) {
  if (transitionFault()) {
    transitionFault()(why);
  } else {
    debugOutput(why + "\n");
  }
}

DialogFlow::DialogFlow(DialogThread& thread, Timers& timers, FlowTimings timings)
    : thread_(thread), timers_(timers), timings_(timings) {}

DialogFlow::~DialogFlow() {
  {
    std::lock_guard lock(asideMutex_);
    asideClosed_ = true;
  }
  asideReady_.notify_all();
  if (helper_.joinable()) helper_.join();
}

void DialogFlow::startInit(std::string_view bannerName, SectionList list, std::chrono::milliseconds limit) {
  initWorker_ = nextWorker_;
  startSection(bannerName, std::move(list));
  // Past the limit the run goes on with whatever the variables hold while
  // the section runs on.
  initTimer_ = timers_.startSingleShot(limit, [this] {
    initTimer_ = 0;
    if (initWaitOver_) return;
    initWaitOver_ = true;
    onInitWaitOver();
    if (runningWorkers_.empty()) onWorkersIdle();
  });
}

void DialogFlow::startSection(std::string_view bannerName, SectionList list) {
  const int worker = nextWorker_++;
  runningWorkers_.insert(worker);
  launch(worker, bannerName, std::move(list));
}

void DialogFlow::startSectionAfter(std::chrono::milliseconds delay, std::string_view bannerName, SectionList list) {
  const int worker = nextWorker_++;
  runningWorkers_.insert(worker);
  // A timer's task is copied; the list it hands over is not.
  auto pending = std::make_shared<SectionList>(std::move(list));
  timers_.startSingleShot(delay, [this, worker, banner = std::string(bannerName), pending] {
    launch(worker, banner, std::move(*pending));
  });
}

void DialogFlow::launch(int worker, std::string_view bannerName, SectionList list) {
  LogSectionBanner(bannerName);
  // "ExecInstallOK" is the section [installok].
  phase_ = toLowerAscii(bannerName.starts_with("Exec") ? bannerName.substr(4) : bannerName);
  DialogThread* thread = &thread_;
  startWorker(std::move(list), [this, thread, worker] { thread->post([this, worker] { onWorkerEnded(worker); }); });
}

void DialogFlow::onWorkerEnded(int worker) {
  runningWorkers_.erase(worker);
  if (worker == initWorker_ && !initWaitOver_) {
    if (initTimer_ != 0) timers_.stopTimer(initTimer_);
    initTimer_ = 0;
    initWaitOver_ = true;
    onInitWaitOver();
  }
  if (initWaitOver_ && runningWorkers_.empty()) onWorkersIdle();
}

std::string DialogFlow::endingReason(int status) const {
  if (status == kExitOk) return {};
  if (!failureReason_.empty()) return failureReason_;
  if (status == kExitInstallFailed) {
    return "the installation failed and was rolled back; the failing command is logged above";
  }
  return "the sections ended without completing the run (last progress " + std::to_string(position_) + "% \"" +
         lastProgressText_ + "\")";
}

void DialogFlow::setFailure(int status, std::string reason) {
  if (failureStatus_ != 0) return;
  failureStatus_ = status;
  failureReason_ = std::move(reason);
}

void DialogFlow::onProgress(const std::string& text, int percent) {
  position_ = (text == "Process++" && percent == 0) ? std::min(position_ + 1, 100) : percent;
  lastProgressText_ = text;
  if (stream_) stream_->progress(phase_, position_, text);
  if (DialogWindow* shown = window()) shown->showProgress(position_, text);
  // The first matching end of a run acts; the variables are read now, so a
  // script may change its texts on the way.
  EndText end = EndText::None;
  if (position_ == 100 && text == GetVariable("msg_complete")) {
    end = EndText::Complete;
  } else if (position_ == 0 && text == GetVariable("msg_cancel_complete")) {
    end = EndText::CancelComplete;
  } else if (position_ == 100 && text == GetVariable("msg_close")) {
    end = EndText::Close;
  } else if (position_ == 100 && text == GetVariable("msg_removed")) {
    end = EndText::Removed;
  }
  if (end != EndText::None) onEndText(end);
}

void DialogFlow::onUnpacked(std::uint64_t done, std::uint64_t total) {
  if (stream_) stream_->unpacked(done, total);
}

Button DialogFlow::ask(const Question& question) {
  DialogWindow* shown = window();
  return shown ? shown->ask(question) : question.silentAnswer;
}

void DialogFlow::sendAside(std::function<void()> work) {
  ++inFlight_;
  {
    std::lock_guard lock(asideMutex_);
    aside_.push_back(std::move(work));
  }
  asideReady_.notify_all();
  if (helper_.joinable()) return;
  helper_ = std::thread([this] {
    for (;;) {
      std::function<void()> next;
      {
        std::unique_lock lock(asideMutex_);
        asideReady_.wait(lock, [this] { return asideClosed_ || !aside_.empty(); });
        // What is queued still goes out when the run is torn down early.
        if (aside_.empty()) return;
        next = std::move(aside_.front());
        aside_.pop_front();
      }
      next();
      thread_.post([this] {
        --inFlight_;
        settle();
      });
    }
  });
}

void DialogFlow::settle() {
  if (ending() && inFlight_ == 0) onReportsDone();
}

void DialogFlow::startCloseTimer(Task tick) {
  stopCloseTimer();
  closeTimer_ = timers_.startTimer(timings_.closeTimer, std::move(tick));
}

void DialogFlow::stopCloseTimer() {
  if (closeTimer_ == 0) return;
  timers_.stopTimer(closeTimer_);
  closeTimer_ = 0;
}

std::string earlierInstallFolder() {
  const std::string folder = nativePath(GetVariable("installdir"));
  return folder.starts_with("/") ? resolvedPath(folder) : folder;
}

}  // namespace lumo
