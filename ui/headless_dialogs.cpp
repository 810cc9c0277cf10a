#include "ui/headless_dialogs.h"

#include <cstdio>
#include <memory>

#include "app/dialog_host.h"
#include "app/exit_status.h"
#include "app/install_flow.h"
#include "app/uninstall_flow.h"
#include "app/worker_threads.h"
#include "platform/debug_channel.h"
#include "platform/desktop_entry.h"
#include "script/run_environment.h"

namespace lumo::ui {
namespace {

constexpr const char* kSilentOnly =
    "LumoInstaller: the headless dialogs have no windows; only silent runs (/s) are available\n";

Button answerSilently(const Question& question) {
  std::fprintf(stderr, "%s: %s\n", question.caption.c_str(), question.text.c_str());
  return question.silentAnswer;
}

// One headless dialog: a window that is never shown, its flow and the host
// that carries the workers' messages to it.
template <typename Window, typename Flow>
class HeadlessDialog final : public Window {
 public:
  explicit HeadlessDialog(const HeadlessOptions& options)
      : flow_(loop_, *this, options.timings),
        host_(loop_, flow_, *this, options.answer ? options.answer : Answerer(answerSilently)) {}

  int run() {
    setHost(&host_);
    return runDialogFlow(loop_, flow_);
  }

  void hide() override {}
  bool isHidden() const override { return true; }  // never shown
  void endDialog() override { loop_.quit(); }
  void showBalloon(const std::string& title, const std::string& text) override {
    debugOutput("Balloon: " + title + ": " + text + "\n");
  }
  void associationsChanged() override { refreshDesktopDatabase(runEnvironment().smPrograms); }

 private:
  TaskLoop loop_;
  Flow flow_;
  DialogHost host_;
};

template <typename Window, typename Flow>
int runHeadless(const HeadlessOptions& options) {
  if (!runEnvironment().silent) {
    std::fputs(kSilentOnly, stderr);
    return kExitOk;
  }
  auto dialog = std::make_unique<HeadlessDialog<Window, Flow>>(options);
  int status = dialog->run();
  if (runningWorkers() > 0) {
    // A worker outlived the wait and may still reach its dialog; the dialog
    // stays until the process ends, which is about to happen.
    dialog.release();
  } else {
    setHost(nullptr);
  }
  return status;
}

}  // namespace

int HeadlessDialogs::runInstallWizard() { return runHeadless<InstallWindow, InstallFlow>(options_); }

int HeadlessDialogs::runUninstallDialog() { return runHeadless<UninstallWindow, UninstallFlow>(options_); }

ModeDialogs& headlessDialogs() {
  static HeadlessDialogs dialogs;
  return dialogs;
}

}  // namespace lumo::ui
