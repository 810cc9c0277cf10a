#include "commands/families.h"

#include "script/dispatcher.h"

namespace lumo::commands {

void registerCommandFamilies() {
  registerEngineCommands();
  registerFileCommands();
  registerIniXmlCommands();
  registerOfferCommands();
  registerPayloadCommands();
  registerProcessCommands();
  registerProgressCommands();
  registerRegistryCommands();
  registerShellCommands();
  registerStatisticsCommands();
  registerTuningCommands();
}

}  // namespace lumo::commands
