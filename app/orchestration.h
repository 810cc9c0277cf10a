// Run orchestration: which script section runs when, on which thread, and
// the flows of success, failure with rollback, and uninstallation.
//
// A flow lives on its dialog's thread. The dialog forwards the messages of
// the workers to it (progress, install-finished, install-failed) and its
// close requests; the flow starts the sections, recognises the ends of runs
// and tells the window what to show through the window interfaces below.
#pragma once

#include <chrono>
#include <set>
#include <string>
#include <string_view>

#include "app/dialog_thread.h"
#include "script/working_script.h"

namespace lumo {

// Exit statuses of the process.
inline constexpr int kExitOk = 0;               // success, cancelled, or a second instance
inline constexpr int kExitInstallFailed = 1;    // the installation ended in the failure flow
inline constexpr int kExitStartupFailed = 2;    // no working script could be found
inline constexpr int kExitIncomplete = 3;       // the sections ended without completing the run

// The dialogs of the two modes. ui/ supplies them; start-up installs them
// with setModeDialogs() before it calls runModeDialog().
class ModeDialogs {
 public:
  virtual ~ModeDialogs() = default;
  // Each runs its dialog on the calling thread until it ends, waits for the
  // workers, and returns the exit status.
  virtual int runInstallWizard() = 0;
  virtual int runUninstallDialog() = 0;
};

void setModeDialogs(ModeDialogs* dialogs);

// Runs the dialog of the mode (install wizard or uninstall dialog) until it
// closes. Returns the exit status of the run.
int runModeDialog();

// Whether `installed` (the version of an earlier installation) is higher
// than this installer's app_version, comparing up to four numeric
// components. The empty text is never newer.
bool IsInstalledNewer(std::string_view installed);

// How long the dialogs wait. Tests shorten them.
struct FlowTimings {
  std::chrono::milliseconds installInitWait{10000};
  std::chrono::milliseconds uninstallInitWait{1000};
  std::chrono::milliseconds closeTimer{2000};
  std::chrono::milliseconds uninstallStartPause{100};
  std::chrono::milliseconds workerExitWait{1000};  // per worker, at the end of the run
};

// What a flow asks of its window. Calls come on the dialog thread.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  virtual void hide() = 0;
  // A silent dialog never shows itself and counts as hidden.
  virtual bool isHidden() const = 0;
  // The modal loop ends.
  virtual void endDialog() = 0;
  // The progress bar moved (0..100).
  virtual void setProgress(int /*position*/) {}
  // File associations changed; the desktop should reread them.
  virtual void associationsChanged() {}
};

class InstallWindow : public DialogWindow {
 public:
  // The Finished face: the install button now starts the product.
  virtual void showFinishedPage() {}
  virtual void removeNotifyIcon() {}
};

class UninstallWindow : public DialogWindow {
 public:
  virtual void showProgressPage() {}
  virtual void showRemovedPage() {}
};

// What both dialogs share: the progress message with its ends of runs, the
// close timer, the failure ending, the workers and the exit status.
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

  // A close request (close button, close timer, failure endings, system).
  virtual void onCloseRequest() = 0;

  int exitStatus() const;
  int position() const { return position_; }
  const FlowTimings& timings() const { return timings_; }

 protected:
  // Logs the banner and starts a worker for the section. Returns the
  // worker's number in this flow.
  int startSection(std::string_view bannerName, SectionList list);
  // Serves the dialog thread until that worker has ended, at most `limit`.
  // Returns whether it has ended.
  bool waitForSection(int worker, std::chrono::milliseconds limit);
  void postCloseRequest();
  // Hides the window, reports the failure, shows the final failure box with
  // the log path and closes.
  void endWithFailure();
  // A rollback supersedes a pending close: the run ends with its failure.
  void stopCloseTimer();
  // Initialisation is over: from now on a silent run ends with its last
  // worker, whatever text it sent last.
  void initialised();

  virtual void onInstallComplete() {}
  virtual void onUninstallComplete() {}

  DialogThread& thread_;
  DialogWindow& window_;
  const FlowTimings timings_;
  bool completed_ = false;    // the run reached its end (installed or removed)
  bool cancelled_ = false;    // the user ended the run before it started, or nothing was to do
  bool failureFlow_ = false;  // the installation ended in the failure flow

 private:
  void failureEnding();
  void startCloseTimer();
  void onCloseTimer();
  void onWorkerEnded(int worker);

  int position_ = 0;
  std::set<int> runningWorkers_;
  int nextWorker_ = 1;
  int closeTimer_ = 0;
  bool initialised_ = false;
  bool closeRequested_ = false;
};

// The install wizard's side of the run: [installinit], [install],
// [installok] and the rollback [installfailed].
class InstallFlow final : public DialogFlow {
 public:
  InstallFlow(DialogThread& thread, InstallWindow& window, FlowTimings timings = {});

  void initialise() override;
  // The install button (or a silent start): installs into `folder`.
  void startInstallation(const std::string& folder);
  // The install button of the Finished face: starts the product.
  void runProduct();
  // 2022
  void onInstallFinished();
  // 2021
  void onInstallFailed();
  void onCloseRequest() override;

  // The folder the wizard offers (after initialise()).
  const std::string& folder() const { return folder_; }
  bool installedIsNewer() const { return installedIsNewer_; }
  bool rollbackStarted() const { return rollbackStarted_; }

 private:
  void onInstallComplete() override;

  InstallWindow& wizard_;
  SectionList install_;
  std::string folder_;
  bool installedIsNewer_ = false;
  bool installing_ = false;
  bool rollbackStarted_ = false;
  bool finishedPage_ = false;
  bool productLaunched_ = false;
};

// The uninstall dialog's side of the run: [uninstallinit], [uninstall].
class UninstallFlow final : public DialogFlow {
 public:
  UninstallFlow(DialogThread& thread, UninstallWindow& window, FlowTimings timings = {});

  void initialise() override;
  // The uninstall button (or a silent start).
  void startUninstallation(bool removeUserData);
  // `cancelButton`: the request came from the dialog's cancel button.
  void onCloseRequest(bool cancelButton);
  void onCloseRequest() override { onCloseRequest(false); }

  bool installed() const { return installed_; }

 private:
  void onUninstallComplete() override;

  UninstallWindow& dialog_;
  SectionList uninstall_;
  bool installed_ = false;
  bool removing_ = false;
  bool removed_ = false;
};

// Runs a dialog's flow: its initialisation, then the dialog thread until
// the dialog ends, then the wait for the workers. Returns the exit status.
int runDialogFlow(TaskLoop& loop, DialogFlow& flow);

}  // namespace lumo
