#include "app/dialog_flow.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <utility>

#include "app/worker_threads.h"
#include "commands/statistics.h"
#include "platform/debug_channel.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "script/dispatcher.h"
#include "script/execution_log.h"
#include "script/host.h"
#include "script/run_environment.h"

namespace lumo {
namespace {

constexpr std::string_view kFailureText =
    "抱歉! Vexta影音安装过程中遇到问题并且无法修复，安装即将退出！\n安装日志详细描述了错误原因，请参考:";
constexpr std::string_view kFailureCaption = "安装失败";

}  // namespace

int runDialogFlow(DialogThread& thread, DialogFlow& flow) {
  flow.initialise();
  thread.run();
  // The dialog has ended: messages of workers that still run are dropped.
  waitForWorkers(flow.timings().workerExitWait);
  flow.beforeExit();
  const int status = flow.exitStatus();
  // A run that does not complete says why, silent runs included: the exit
  // status alone tells nobody what is left to do.
  if (status != kExitOk) {
    LogWarning("The run ends with status " + std::to_string(status) + ": " + flow.endingReason(status));
  }
  return status;
}

DialogFlow::DialogFlow(DialogThread& thread, DialogWindow& window, FlowTimings timings)
    : thread_(thread), window_(window), timings_(timings) {}

int DialogFlow::exitStatus() const {
  if (failureStatus_ != 0) return failureStatus_;
  if (failureFlow_) return kExitInstallFailed;
  if (completed_ || cancelled_) return kExitOk;
  return kExitIncomplete;
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

int DialogFlow::startSection(std::string_view bannerName, SectionList list) {
  const int worker = nextWorker_++;
  runningWorkers_.insert(worker);
  launch(worker, bannerName, std::move(list));
  return worker;
}

int DialogFlow::startSectionAfter(std::chrono::milliseconds delay, std::string_view bannerName, SectionList list) {
  const int worker = nextWorker_++;
  runningWorkers_.insert(worker);
  // A timer's task is copied; the list it hands over is not.
  auto pending = std::make_shared<SectionList>(std::move(list));
  thread_.startSingleShot(delay, [this, worker, banner = std::string(bannerName), pending] {
    launch(worker, banner, std::move(*pending));
  });
  return worker;
}

void DialogFlow::launch(int worker, std::string_view bannerName, SectionList list) {
  LogSectionBanner(bannerName);
  DialogThread* thread = &thread_;
  startWorker(std::move(list), [this, thread, worker] { thread->post([this, worker] { onWorkerEnded(worker); }); });
}

bool DialogFlow::waitForSection(int worker, std::chrono::milliseconds limit) {
  return thread_.serveUntil([this, worker] { return !runningWorkers_.contains(worker); }, limit);
}

void DialogFlow::initialised() {
  initialised_ = true;
  // The sections may all have ended while the dialog was still
  // initialising (a failed init section whose rollback was quick).
  endSilentRunWhenIdle();
}

void DialogFlow::postCloseRequest() {
  closeRequested_ = true;
  thread_.post([this] { onCloseRequest(); });
}

void DialogFlow::onWorkerEnded(int worker) {
  runningWorkers_.erase(worker);
  endSilentRunWhenIdle();
}

void DialogFlow::endSilentRunWhenIdle() {
  // A silent run has nobody to close it: when its sections are over without
  // the text that closes the dialog, it ends with its last worker.
  if (runEnvironment().silent && initialised_ && runningWorkers_.empty() && closeTimer_ == 0 && !closeRequested_) {
    debugOutput("The last section ended without closing the dialog; the run ends\n");
    postCloseRequest();
  }
}

void DialogFlow::onProgress(const std::string& text, int percent) {
  position_ = (text == "Process++" && percent == 0) ? std::min(position_ + 1, 100) : percent;
  window_.setProgress(position_, text);
  lastProgressText_ = text;
  // The first matching end of a run acts; the variables are read now, so a
  // script may change its texts on the way.
  if (position_ == 100 && text == GetVariable("msg_complete")) {
    onInstallComplete();
  } else if (position_ == 0 && text == GetVariable("msg_cancel_complete")) {
    failureEnding();
  } else if (position_ == 100 && text == GetVariable("msg_close")) {
    startCloseTimer();
  } else if (position_ == 100 && text == GetVariable("msg_removed")) {
    window_.associationsChanged();
    onUninstallComplete();
  }
}

void DialogFlow::startCloseTimer() {
  if (closeTimer_ != 0) thread_.stopTimer(closeTimer_);
  closeTimer_ = thread_.startTimer(timings_.closeTimer, [this] { onCloseTimer(); });
}

void DialogFlow::stopCloseTimer() {
  if (closeTimer_ == 0) return;
  thread_.stopTimer(closeTimer_);
  closeTimer_ = 0;
}

void DialogFlow::onCloseTimer() {
  // A visible dialog waits for its user; the timer closes it once hidden.
  if (!window_.isHidden()) return;
  stopCloseTimer();
  postCloseRequest();
}

void DialogFlow::failureEnding() {
  window_.associationsChanged();
  endWithFailure();
}

void DialogFlow::endWithFailure() {
  failureFlow_ = true;
  window_.hide();
  runWhileServing([] { commands::sendReport("install", "failed"); });
  host().ask(Question{.id = "install.failed",
                      .text = std::string(kFailureText) + runEnvironment().logPath,
                      .caption = std::string(kFailureCaption),
                      .buttons = {Button::Ok},
                      .icon = Icon::Error});
  postCloseRequest();
}

void DialogFlow::runWhileServing(const std::function<void()>& work) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread runner([this, &work, done] {
    work();
    done->store(true);
    thread_.post([] {});  // wakes the dialog thread to look again
  });
  // A report gives up within its own time-outs, so the wait has no limit of
  // its own; a dialog that has ended stops serving and just waits.
  thread_.serveUntil([&done] { return done->load(); }, std::chrono::hours(1));
  runner.join();
}

std::string earlierInstallFolder() {
  const std::string folder = nativePath(GetVariable("installdir"));
  return folder.starts_with("/") ? resolvedPath(folder) : folder;
}

}  // namespace lumo
