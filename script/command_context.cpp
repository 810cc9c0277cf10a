#include "script/command_context.h"

namespace lumo {

CommandContext currentCommandContext() {
  static const ResourceBundle kNoResources;
  const RunEnvironment& environment = runEnvironment();
  const Result<ResourceBundle>& bundle = ResourceBundle::ofThisProgram();
  return CommandContext{environment,    Variables(environment.iniPath),
                        host(),         installFolder(),
                        executionLog(), bundle ? *bundle : kNoResources};
}

}  // namespace lumo
