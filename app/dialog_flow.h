// What both dialogs share: which section runs when and on which thread, the
// progress message with its ends of runs, the close timer, the failure
// ending, the workers and the exit status.
//
// A flow lives on its dialog's thread. The DialogHost carries the workers'
// messages to it; the window calls it for buttons and close requests; it
// starts the sections and tells the window what to show.
#pragma once

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "app/dialog_contract.h"
#include "app/dialog_thread.h"
#include "app/exit_status.h"
#include "script/working_script.h"

namespace lumo {

// The folder of an earlier installation that the variable `installdir`
// names, as the file system reaches it: a damaged or planted value such as
// "<home>/Vexta/.." or a link called Vexta must be judged by the folder it
// leads to. A relative or empty text stays as it is.
std::string earlierInstallFolder();

class DialogFlow {
 public:
  DialogFlow(DialogThread& thread, DialogWindow& window, FlowTimings timings);
  virtual ~DialogFlow() = default;
  DialogFlow(const DialogFlow&) = delete;
  DialogFlow& operator=(const DialogFlow&) = delete;

  // Reads the sections, runs the init section and, when silent, starts the
  // main one (the dialog's initialisation).
  virtual void initialise() = 0;

  // 2023: a status text and a percentage.
  void onProgress(const std::string& text, int percent);
  // 2022 and 2021 concern the install wizard only; the other dialog
  // ignores them.
  virtual void onInstallFinished() {}
  virtual void onInstallFailed() {}

  // A close request (close button, close timer, failure endings, system).
  virtual void onCloseRequest() = 0;

  int exitStatus() const;
  // Why a run ends with `status`; empty for kExitOk.
  std::string endingReason(int status) const;
  // Called once the dialog has ended, before the exit status is read.
  virtual void beforeExit() {}
  int position() const { return position_; }
  const FlowTimings& timings() const { return timings_; }

 protected:
  // Logs the banner and starts a worker for the section. Returns the
  // worker's number in this flow.
  int startSection(std::string_view bannerName, SectionList list);
  // The same after `delay`, on a single-shot timer. The worker counts as
  // running from now on, so the run cannot end during the pause.
  int startSectionAfter(std::chrono::milliseconds delay, std::string_view bannerName, SectionList list);
  // Serves the dialog thread until that worker has ended, at most `limit`.
  // Returns whether it has ended.
  bool waitForSection(int worker, std::chrono::milliseconds limit);
  void postCloseRequest();
  // Runs `work` (a report, an address to open) on a helper thread while the
  // dialog thread goes on serving, and returns once it has run: a report
  // waits for the network, and the window must keep answering meanwhile.
  void runWhileServing(const std::function<void()>& work);
  // Hides the window, reports the failure, shows the final failure box with
  // the log path and closes.
  void endWithFailure();
  // A rollback supersedes a pending close: the run ends with its failure.
  void stopCloseTimer();
  // Initialisation is over, the silent start included: from now on a
  // silent run ends with its last worker, whatever text it sent last.
  void initialised();
  // The run ends with `status` (not kExitOk) for `reason`, whatever else
  // happens; the first failure set is the one that counts.
  void setFailure(int status, std::string reason);

  virtual void onInstallComplete() {}
  virtual void onUninstallComplete() {}

  DialogThread& thread_;
  DialogWindow& window_;
  const FlowTimings timings_;
  bool completed_ = false;    // the run reached its end (installed or removed)
  bool cancelled_ = false;    // the user ended the run before it started, or nothing was to do
  bool failureFlow_ = false;  // the installation ended in the failure flow
  int failureStatus_ = 0;     // set by setFailure
  std::string failureReason_;
  std::string lastProgressText_;

 private:
  void launch(int worker, std::string_view bannerName, SectionList list);
  void failureEnding();
  void startCloseTimer();
  void onCloseTimer();
  void onWorkerEnded(int worker);
  void endSilentRunWhenIdle();

  int position_ = 0;
  std::set<int> runningWorkers_;  // started or about to start
  int nextWorker_ = 1;
  int closeTimer_ = 0;
  bool initialised_ = false;
  bool closeRequested_ = false;
};

// Runs a dialog's flow: its initialisation, then the dialog thread until
// the dialog ends, then the wait for the workers. Returns the exit status.
int runDialogFlow(DialogThread& thread, DialogFlow& flow);

}  // namespace lumo
