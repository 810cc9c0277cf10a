// The dialogs of a run without windows: the install wizard and the
// uninstall dialog as flows on a dialog thread of their own, hidden from
// the start. They receive the workers' messages (as the Host of the run)
// and answer questions with the silent answers, or with the answers a test
// scripts.
#pragma once

#include <functional>

#include "app/orchestration.h"
#include "script/host.h"

namespace lumo::ui {

using Answerer = std::function<Button(const Question&)>;

struct HeadlessOptions {
  // Answers the questions of the run on the dialog thread. Unset: the
  // silent answer, with the question's text on stderr.
  Answerer answer;
  FlowTimings timings;
};

class HeadlessDialogs final : public ModeDialogs {
 public:
  explicit HeadlessDialogs(HeadlessOptions options = {}) : options_(std::move(options)) {}

  // Both run only silently; a run that would need a window says so on
  // stderr and ends.
  int runInstallWizard() override;
  int runUninstallDialog() override;

 private:
  HeadlessOptions options_;
};

// The dialogs of this build, for start-up.
ModeDialogs& headlessDialogs();

}  // namespace lumo::ui
