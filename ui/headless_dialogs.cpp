#include "ui/headless_dialogs.h"

#include <cstdio>
#include <memory>

#include "script/run_environment.h"
#include "app/worker_threads.h"
#include "platform/debug_channel.h"
#include "platform/desktop_entry.h"

namespace lumo::ui {
namespace {

constexpr const char* kSilentOnly =
    "LumoInstaller: this build has no windows yet; only silent runs (/s) are available\n";

Button answerSilently(const Question& question) {
  std::fprintf(stderr, "%s: %s\n", question.caption.c_str(), question.text.c_str());
  return question.silentAnswer;
}

// The window side and the Host of one headless dialog. Workers call the
// Host from their threads; every call is carried to the dialog thread and
// returns once the flow has handled it.
template <typename Window, typename Flow>
class HeadlessDialog final : public Window, public Host {
 public:
  explicit HeadlessDialog(const HeadlessOptions& options)
      : answer_(options.answer ? options.answer : Answerer(answerSilently)), flow_(loop_, *this, options.timings) {}

  int run() {
    setHost(this);
    return runDialogFlow(loop_, flow_);
  }

  // Window side.
  void hide() override {}
  bool isHidden() const override { return true; }  // never shown
  void endDialog() override { loop_.quit(); }
  void associationsChanged() override { refreshDesktopDatabase(runEnvironment().smPrograms); }

  // Host.
  void balloon(const std::string& title, const std::string& text) override {
    loop_.call([&] { debugOutput("Balloon: " + title + ": " + text + "\n"); });
  }
  void installFailed() override { loop_.call([this] { onInstallFailed(flow_); }); }
  void installFinished() override { loop_.call([this] { onInstallFinished(flow_); }); }
  void progress(const std::string& text, int percent) override {
    loop_.call([&] { flow_.onProgress(text, percent); });
  }
  Button ask(const Question& question) override {
    Button answer = question.silentAnswer;
    loop_.call([&] { answer = answer_(question); });
    return answer;
  }

 private:
  // Messages 2021 and 2022 go to the install wizard only.
  static void onInstallFailed(InstallFlow& flow) { flow.onInstallFailed(); }
  static void onInstallFailed(UninstallFlow&) {}
  static void onInstallFinished(InstallFlow& flow) { flow.onInstallFinished(); }
  static void onInstallFinished(UninstallFlow&) {}

  Answerer answer_;
  TaskLoop loop_;
  Flow flow_;
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
