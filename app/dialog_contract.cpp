#include "app/dialog_contract.h"

#include <cstdio>

#include "app/exit_status.h"
#include "script/run_environment.h"

namespace lumo {
namespace {

ModeDialogs* modeDialogs = nullptr;

}  // namespace

void setModeDialogs(ModeDialogs* dialogs) { modeDialogs = dialogs; }

int runModeDialog() {
  if (!modeDialogs) {
    std::fputs("LumoInstaller: no dialogs are available in this build\n", stderr);
    return kExitOk;
  }
  return runEnvironment().installMode ? modeDialogs->runInstallWizard() : modeDialogs->runUninstallDialog();
}

}  // namespace lumo
