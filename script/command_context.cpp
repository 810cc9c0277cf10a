#include "script/command_context.h"

namespace lumo {

CommandContext currentCommandContext() {
  const RunEnvironment& environment = runEnvironment();
  return CommandContext{environment, Variables(environment.iniPath), host(), installFolder()};
}

}  // namespace lumo
