// What the window layer (ui/) and the flows agree on.
//
// A window layer supplies ModeDialogs. Each of its dialogs is a window
// (InstallWindow or UninstallWindow below) with a DialogThread of its own;
// it builds the flow of its mode on them (app/install_flow.h,
// app/uninstall_flow.h), installs a DialogHost (app/dialog_host.h) as the
// Host of the run so that the workers' messages reach the flow on the dialog
// thread, and calls runDialogFlow() (app/dialog_flow.h). The window then
// calls the flow for its buttons and close requests, and the flow calls the
// window back through the hooks below. Every call in either direction
// happens on the dialog thread; no window needs a lock for them.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "script/host.h"

namespace lumo {

// The dialogs of the two modes. Start-up installs them with
// setModeDialogs() before it calls runModeDialog().
class ModeDialogs {
 public:
  virtual ~ModeDialogs() = default;
  // Each runs its dialog on the calling thread until it ends, waits for the
  // workers, and returns the exit status (app/exit_status.h).
  virtual int runInstallWizard() = 0;
  virtual int runUninstallDialog() = 0;
};

void setModeDialogs(ModeDialogs* dialogs);

// Runs the dialog of the mode (install wizard or uninstall dialog) until it
// closes. Returns the exit status of the run.
int runModeDialog();

// Answers a question of the run on the dialog thread: a message box of the
// window layer, the silent answer, or the answers a test scripts.
using Answerer = std::function<Button(const Question&)>;

// How long the dialogs wait. Tests shorten them.
struct FlowTimings {
  std::chrono::milliseconds installInitWait{10000};
  std::chrono::milliseconds uninstallInitWait{1000};
  std::chrono::milliseconds closeTimer{2000};
  std::chrono::milliseconds uninstallStartPause{100};
  std::chrono::milliseconds workerExitWait{1000};  // per worker, at the end of the run
};

// What a flow asks of its window. The hooks with a body are optional: a
// window without the matching control leaves them alone.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  virtual void hide() = 0;
  // A silent dialog never shows itself and counts as hidden.
  virtual bool isHidden() const = 0;
  // The modal loop ends (and with it DialogThread::run()).
  virtual void endDialog() = 0;
  // The progress bar moved to `position` (0..100, "Process++" already
  // applied) and the script's status text is `text`, as sent.
  virtual void setProgress(int /*position*/, const std::string& /*text*/) {}
  // A balloon of the notification-area icon (only the install wizard has
  // one; the texts are UTF-8, not yet cut to the icon's limits).
  virtual void showBalloon(const std::string& /*title*/, const std::string& /*text*/) {}
  // File associations changed; the desktop should reread them.
  virtual void associationsChanged() {}
};

class InstallWindow : public DialogWindow {
 public:
  // The Installing face: the installation has started, the bar follows it
  // (and later the rollback, if one runs).
  virtual void showInstallingPage() {}
  // The Finished face: the install button now starts the product.
  virtual void showFinishedPage() {}
  virtual void removeNotifyIcon() {}
};

class UninstallWindow : public DialogWindow {
 public:
  virtual void showProgressPage() {}
  virtual void showRemovedPage() {}
};

}  // namespace lumo
