// The dialogs of a run without windows: the install wizard and the
// uninstall dialog as windows that are hidden from the start, on a dialog
// thread of their own. The app's DialogHost brings them the workers'
// messages; they answer questions with the silent answers, or with the
// answers a test scripts.
#pragma once

#include "app/dialog_contract.h"

namespace lumo::ui {

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
