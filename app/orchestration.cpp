#include "app/orchestration.h"

#include <cstdio>

namespace lumo {

// Placeholder until the section flows arrive.
int runModeDialog() {
  std::fputs("LumoInstaller: the dialogs are not available yet\n", stderr);
  return kExitOk;
}

}  // namespace lumo
