#include <string>
#include <vector>

#include "app/dialog_contract.h"
#include "app/startup.h"
#include "ui/headless_dialogs.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  lumo::setModeDialogs(&lumo::ui::headlessDialogs());
  lumo::endProcess(lumo::startUp(arguments));
}
