// The program: the one file above every layer. It wires the windows of ui/
// into a run of app/; a silent run keeps the run's own windows that never
// show and never opens a window-system connection.
#include <string>
#include <vector>

#include "app/run.h"
#include "app/startup.h"
#include "commands/families.h"
#include "ui/qt_dialogs.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  lumo::commands::registerCommandFamilies();
  static lumo::ui::QtWindows windows;
  static lumo::Run run(windows);
  lumo::endProcess(run.start(arguments));
}
