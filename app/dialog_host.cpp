#include "app/dialog_host.h"

namespace lumo {

DialogHost::DialogHost(DialogThread& thread, DialogFlow& flow) : thread_(thread), flow_(flow) {}

// The texts live on the worker's stack; call() returns only after the
// dialog thread has used them, so they are passed by reference.
void DialogHost::balloon(const std::string& title, const std::string& text) {
  thread_.call([&] { flow_.onBalloon(title, text); });
}

void DialogHost::installFailed() {
  thread_.call([this] { flow_.onInstallFailed(); });
}

void DialogHost::installFinished() {
  thread_.call([this] { flow_.onInstallFinished(); });
}

void DialogHost::progress(const std::string& text, int percent) {
  thread_.call([&] { flow_.onProgress(text, percent); });
}

void DialogHost::unpacked(std::uint64_t done, std::uint64_t total) { flow_.onUnpacked(done, total); }

Button DialogHost::ask(const Question& question) {
  Button answer = question.silentAnswer;
  thread_.call([&] { answer = flow_.ask(question); });
  return answer;
}

}  // namespace lumo
