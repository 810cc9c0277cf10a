#include "app/headless_dialogs.h"

#include <cstdio>

#include "app/exit_status.h"
#include "platform/debug_channel.h"

namespace lumo {
namespace {

constexpr const char* kSilentOnly =
    "LumoInstaller: the headless dialogs have no windows; only silent runs (/s) are available\n";

Button answerSilently(const Question& question) {
  std::fprintf(stderr, "%s: %s\n", question.caption.c_str(), question.text.c_str());
  return question.silentAnswer;
}

template <typename Window, typename Face>
class HeadlessWindow final : public Window {
 public:
  explicit HeadlessWindow(const Answerer& answer) : answer_(answer ? answer : Answerer(answerSilently)) {}

  void show(const Face&) override {}
  void showProgress(int, const std::string&) override {}
  void showBalloon(const std::string& title, const std::string& text) override {
    debugOutput("Balloon: " + title + ": " + text + "\n");
  }
  Button ask(const Question& question) override { return answer_(question); }

 private:
  Answerer answer_;
};

}  // namespace

int HeadlessWindows::open() {
  std::fputs(kSilentOnly, stderr);
  return kExitOk;
}

std::unique_ptr<InstallWindow> HeadlessWindows::installWindow(IntentSink&) {
  return std::make_unique<HeadlessWindow<InstallWindow, InstallFace>>(answer_);
}

std::unique_ptr<UninstallWindow> HeadlessWindows::uninstallWindow(IntentSink&) {
  return std::make_unique<HeadlessWindow<UninstallWindow, UninstallFace>>(answer_);
}

}  // namespace lumo
