// The installation identity: one identifier per machine and user, sent with
// every statistics report and kept across installations. It lives in two
// places, and each restores the other when it is lost:
//   registry  HKEY_CURRENT_USER, key Software\Microsoft\Windows\CurrentVersion\Imee\Address,
//             value "MacAddr"
//   file      $KERNEL/LumoClient/InstallConfig.ini, [Install] ID
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/machine_ids.h"
#include "script/command_context.h"

namespace lumo::commands {

// The machine identifier: the stored one, or a new one that is stored.
std::string GetMachineId(const CommandContext& context);
// The same for this process's run (currentCommandContext()).
std::string GetMachineId();

// The file that holds the identifier beside the registry value.
std::string identityFilePath(const RunEnvironment& environment);

// The two forms of a new identifier. The GUID form is 32 hexadecimal digits,
// upper case except for the third group; the fallback form is four decimal
// numbers run together, then the adapter's address in 12 upper-case digits.
std::string guidIdentifier(const Guid& guid);
std::string fallbackIdentifier(std::uint32_t seconds, std::uint32_t ticks, unsigned random,
                               const std::optional<HardwareAddress>& adapter);

}  // namespace lumo::commands
