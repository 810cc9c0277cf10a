// The windows of a run without a window system: the install wizard and the
// uninstall dialog as windows that never show. They answer questions with
// the silent answers (their texts on stderr), or with the answers a test
// scripts; balloons go to the debug channel. No Qt Widgets here.
#pragma once

#include <functional>

#include "app/dialog_contract.h"

namespace lumo {

// Answers a question of the run on the dialog thread.
using Answerer = std::function<Button(const Question&)>;

class HeadlessWindows final : public Windows {
 public:
  // Unset: the silent answer, with the question's text on stderr.
  explicit HeadlessWindows(Answerer answer = {}) : answer_(std::move(answer)) {}

  // Only silent runs: one that would need a window says so on stderr and
  // ends with status 0.
  int open() override;
  std::unique_ptr<InstallWindow> installWindow(IntentSink& run) override;
  std::unique_ptr<UninstallWindow> uninstallWindow(IntentSink& run) override;

 private:
  Answerer answer_;
};

}  // namespace lumo
