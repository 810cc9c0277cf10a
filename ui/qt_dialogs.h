// The windows of a run with a window system: each mode's window on the Qt
// application's event loop, which serves the run's dialog thread. Silent
// runs never come here and never open a window-system connection.
#pragma once

#include <memory>
#include <string>

#include "app/dialog_contract.h"

namespace lumo::ui {

class QtWindows final : public Windows {
 public:
  // Makes the application object (once per process), or says why no window
  // can open: status 4.
  int open() override;
  std::unique_ptr<InstallWindow> installWindow(IntentSink& run) override;
  std::unique_ptr<UninstallWindow> uninstallWindow(IntentSink& run) override;
};

// Why no window can be opened here, or empty when one can be tried: the
// platform Qt would use needs a display that the environment does not name.
std::string missingDisplay();

}  // namespace lumo::ui
