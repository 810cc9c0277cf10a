// What both flows share: the sections on their worker threads, the init
// wait, the progress message with its ends of runs, the close timer, the
// reports on their way and the events the transition tables are fed.
//
// A flow lives on the dialog thread. The run's host carries the workers'
// messages to it; its window delivers the user's intents to it; it feeds
// both to its transition function and carries out the effects.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "app/dialog_contract.h"
#include "app/dialog_thread.h"
#include "app/progress_stream.h"
#include "script/host.h"
#include "script/working_script.h"

namespace lumo {

// The folder of an earlier installation that the variable `installdir`
// names, as the file system reaches it: a damaged or planted value such as
// "<home>/Vexta/.." or a link called Vexta must be judged by the folder it
// leads to. A relative or empty text stays as it is.
std::string earlierInstallFolder();

// Where an event without a transition is told. By default the debug
// channel: a run goes on without the event. Tests fail on it.
using TransitionFault = std::function<void(const std::string& why)>;
void setTransitionFault(TransitionFault fault);
void reportTransitionFault(const std::string& why);

class DialogFlow : public IntentSink {
 public:
  DialogFlow(DialogThread& thread, Timers& timers, FlowTimings timings);
  ~DialogFlow() override;
  DialogFlow(const DialogFlow&) = delete;
  DialogFlow& operator=(const DialogFlow&) = delete;

  // Reads the sections and starts the init section with its wait.
  virtual void start() = 0;
  // The exit status as the phases left it (app/exit_status.h).
  virtual int exitStatus() const = 0;
  // Called once the dialog has ended and its workers were waited for.
  virtual void beforeExit() {}
  // The run's status: a failure set on the way counts over the phases.
  int finalStatus() const { return failureStatus_ != 0 ? failureStatus_ : exitStatus(); }
  // Why a run ends with `status`; empty for kExitOk.
  std::string endingReason(int status) const;

  // The workers' messages, on the dialog thread.
  // 2023: a status text and a percentage.
  void onProgress(const std::string& text, int percent);
  // 2022 and 2021 concern the install wizard only.
  virtual void onInstallFinished() {}
  virtual void onInstallFailed() {}
  // 2019: a balloon.
  virtual void onBalloon(const std::string& title, const std::string& text) = 0;
  Button ask(const Question& question);
  // Out's byte progress, on the unpacking threads: it goes to the progress
  // stream alone, never through the dialog.
  void onUnpacked(std::uint64_t done, std::uint64_t total);

  // Where progress goes besides the window ("--progress-fd"); set before
  // start(), outlives the flow.
  void setProgressStream(ProgressStream* stream) { stream_ = stream; }

  int position() const { return position_; }
  const FlowTimings& timings() const { return timings_; }

 protected:
  // The ends of runs that a progress message may carry.
  enum class EndText { None, Complete, CancelComplete, Close, Removed };
  virtual void onEndText(EndText text) = 0;
  virtual void onInitWaitOver() = 0;
  virtual void onWorkersIdle() = 0;
  virtual void onReportsDone() = 0;
  virtual bool ending() const = 0;
  virtual DialogWindow* window() const = 0;

  // Starts the init section; onInitWaitOver() follows once it has ended or
  // `limit` has passed, whichever comes first.
  void startInit(std::string_view bannerName, SectionList list, std::chrono::milliseconds limit);
  // Logs the banner and starts a worker for the section.
  void startSection(std::string_view bannerName, SectionList list);
  // The same after `delay`. The worker counts as running from now on, so
  // the run cannot end during the pause.
  void startSectionAfter(std::chrono::milliseconds delay, std::string_view bannerName, SectionList list);
  // Runs `work` (a report, an address to open) on a helper thread; the
  // dialog thread goes on serving. onReportsDone() follows when the run is
  // ending and nothing is on its way any more.
  void sendAside(std::function<void()> work);
  void startCloseTimer(Task tick);
  void stopCloseTimer();
  // After each event: an ending run waits for what it sent, then quits.
  void settle();
  // The run ends with `status` (not kExitOk) for `reason`, whatever else
  // happens; the first failure set is the one that counts.
  void setFailure(int status, std::string reason);

  DialogThread& thread_;
  Timers& timers_;
  const FlowTimings timings_;

 private:
  void launch(int worker, std::string_view bannerName, SectionList list);
  void onWorkerEnded(int worker);

  int position_ = 0;
  std::string lastProgressText_;
  ProgressStream* stream_ = nullptr;
  // The section last started, as the progress stream names it ("install").
  std::string phase_;
  int failureStatus_ = 0;
  std::string failureReason_;
  std::set<int> runningWorkers_;  // started or about to start
  int nextWorker_ = 1;
  int initWorker_ = 0;
  int initTimer_ = 0;
  bool initWaitOver_ = false;
  int closeTimer_ = 0;
  int inFlight_ = 0;
  // What is sent aside goes in order, on one helper thread of the run.
  std::mutex asideMutex_;
  std::condition_variable asideReady_;
  std::deque<std::function<void()>> aside_;
  bool asideClosed_ = false;
  std::thread helper_;
};

}  // namespace lumo
