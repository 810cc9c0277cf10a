#include <string>
#include <vector>

#include "app/dialog_contract.h"
#include "app/startup.h"
#include "commands/families.h"
#include "ui/headless_dialogs.h"
#include "ui/qt_dialogs.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  lumo::commands::registerCommandFamilies();
  // Silent runs keep the headless dialogs and never open a window.
  static lumo::ui::QtDialogs windowedDialogs(lumo::ui::headlessDialogs());
  lumo::setModeDialogs(&windowedDialogs);
  lumo::endProcess(lumo::startUp(arguments));
}
