// What the window layer (ui/) and the run agree on.
//
// A window only shows: the run gives it a face (the phase, the texts, the
// values) and the progress; the window reports what the user did as intents
// (install pressed, a box toggled, a folder chosen, close requested) to the
// run's IntentSink, and the run decides. Every call in either direction
// happens on the dialog thread, so no window needs a lock.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/install_phases.h"
#include "app/uninstall_phases.h"
#include "script/host.h"
#include "script/product_identity.h"

namespace lumo {

// How long the run waits. Tests shorten them.
struct FlowTimings {
  std::chrono::milliseconds installInitWait{10000};
  std::chrono::milliseconds uninstallInitWait{1000};
  std::chrono::milliseconds closeTimer{2000};
  std::chrono::milliseconds uninstallStartPause{100};
  std::chrono::milliseconds workerExitWait{1000};  // per worker, at the end of the run
};

// A recommended program the wizard offers: its number (1 to 3, the n of
// softnameN and softcheckN), its name and whether its box is ticked.
struct Offer {
  int number = 0;
  std::string name;
  bool checked = true;
};

struct InstallFace {
  InstallPhase phase = InstallPhase::Starting;
  bool visible = false;
  std::string title;   // "Vexta影音" + app_version + "安装程序"
  std::string product{kDefaultProductName};  // the name the window's texts use
  std::string folder;  // where the product goes ($INSTALL)
  bool agreed = true;
  bool autorun = false;
  std::vector<Offer> offers;
  bool notifyIcon = true;  // the icon of the balloons may show
};

struct UninstallFace {
  UninstallPhase phase = UninstallPhase::Starting;
  bool visible = false;
  std::string title;  // "Vexta影音" + app_version + "卸载程序"
  std::string product{kDefaultProductName};  // the name the window's texts use
  bool clearUserData = false;
};

// What the user did. Both windows deliver every intent the same way: to the
// run's sink, at once, on the dialog thread.
struct Intent {
  enum Kind {
    InstallPressed,
    ContinuePressed,
    OpenInstalledPressed,
    LicensePressed,
    AgreementToggled,
    AutorunToggled,
    OfferToggled,  // `offer` says which
    FolderChosen,  // `folder` is what the chooser gave
    UninstallPressed,
    CancelPressed,
    OkPressed,
    BoxToggled,
    CloseRequested,  // the close button or the window system
  };
  explicit Intent(Kind what, int number = 0, std::string chosen = {})
      : kind(what), offer(number), folder(std::move(chosen)) {}

  Kind kind;
  int offer;
  std::string folder;
};

class IntentSink {
 public:
  virtual ~IntentSink() = default;
  virtual void deliver(const Intent& intent) = 0;
};

// What both windows show besides their faces.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  // The bar at `position` (0..100, "Process++" already applied) and the
  // script's status text `text`, as sent.
  virtual void showProgress(int position, const std::string& text) = 0;
  // A balloon of the notification-area icon (the texts are UTF-8, not yet
  // cut to the icon's limits).
  virtual void showBalloon(const std::string& title, const std::string& text) = 0;
  // A question of the run: a message box over the window, or the silent
  // answer of a window that never shows.
  virtual Button ask(const Question& question) = 0;
};

class InstallWindow : public DialogWindow {
 public:
  virtual void show(const InstallFace& face) = 0;
};

class UninstallWindow : public DialogWindow {
 public:
  virtual void show(const UninstallFace& face) = 0;
};

// The windows a window layer supplies to the run.
class Windows {
 public:
  virtual ~Windows() = default;
  // Opens the window system before the run's dialog thread is made. Returns
  // -1 when windows can show, or else the exit status after saying why.
  virtual int open() = 0;
  virtual std::unique_ptr<InstallWindow> installWindow(IntentSink& run) = 0;
  virtual std::unique_ptr<UninstallWindow> uninstallWindow(IntentSink& run) = 0;
};

}  // namespace lumo
