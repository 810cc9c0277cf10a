// The dialogs of a run with windows: each mode's window on the Qt event
// loop, over the flows of app/. Silent runs go to the headless dialogs and
// never open a window-system connection.
#pragma once

#include <string>

#include "app/dialog_contract.h"
#include "app/exit_status.h"

namespace lumo::ui {

class QtDialogs final : public ModeDialogs {
 public:
  explicit QtDialogs(ModeDialogs& silentDialogs, FlowTimings timings = {})
      : silent_(silentDialogs), timings_(timings) {}

  int runInstallWizard() override;
  int runUninstallDialog() override;

 private:
  ModeDialogs& silent_;
  FlowTimings timings_;
};

// Why no window can be opened here, or empty when one can be tried: the
// platform Qt would use needs a display that the environment does not name.
std::string missingDisplay();

}  // namespace lumo::ui
