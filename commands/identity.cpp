#include "commands/identity.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "commands/registry.h"
#include "formats/profile_file.h"
#include "platform/debug_channel.h"
#include "platform/text.h"
#include "script/script_engine.h"

namespace lumo::commands {
namespace {

constexpr const char* kRegistryRoot = "HKEY_CURRENT_USER";
constexpr const char* kRegistryKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Imee\\Address";
constexpr const char* kRegistryValue = "MacAddr";
// The variable that receives the registry value on the way.
constexpr const char* kVariable = "macaddr";
constexpr const char* kFileSection = "Install";
constexpr const char* kFileKey = "ID";
// The file is read with a buffer of 260 characters.
constexpr std::size_t kFileValueLength = 259;

std::string newIdentifier() {
  if (auto guid = createGuid()) return guidIdentifier(*guid);
  auto seconds = static_cast<std::uint32_t>(std::time(nullptr));
  return fallbackIdentifier(seconds, tickCount(), static_cast<unsigned>(std::rand()), firstAdapterAddress());
}

}  // namespace

std::string identityFilePath(const RunEnvironment& environment) {
  return environment.kernel + "/LumoClient/InstallConfig.ini";
}

std::string guidIdentifier(const Guid& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X%04X%04x%02X%02X%02X%02X%02X%02X%02X%02X", guid.data1, guid.data2,
                guid.data3, guid.data4[0], guid.data4[1], guid.data4[2], guid.data4[3], guid.data4[4],
                guid.data4[5], guid.data4[6], guid.data4[7]);
  return text;
}

std::string fallbackIdentifier(std::uint32_t seconds, std::uint32_t ticks, unsigned random,
                               const std::optional<HardwareAddress>& adapter) {
  char text[80];
  std::snprintf(text, sizeof text, "%u%u%u%u", seconds, ticks, 0u, random);
  std::string identifier = text;
  if (adapter) {
    const auto& a = *adapter;
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", a[0], a[1], a[2], a[3], a[4], a[5]);
    identifier += text;
  }
  return identifier;
}

std::string GetMachineId() { return GetMachineId(currentCommandContext()); }

std::string GetMachineId(const CommandContext& context) {
  // No line in the execution log: the identity is no command of the script.
  // A failing registry leaves the other store in charge.
  if (std::optional<std::string> stored = readRegistryText(kRegistryRoot, kRegistryKey, kRegistryValue))
    context.variables.set(kVariable, *stored);
  std::string identifier(trim(context.variables.get(kVariable)));

  bool writeRegistry = false;
  ProfileFile file(identityFilePath(context.environment), TextEncoding::Utf8);
  if (identifier.empty()) {
    writeRegistry = true;
    std::string stored = cutToUtf16Units(file.read(kFileSection, kFileKey).value_or(""), kFileValueLength);
    identifier = std::string(trim(stored));
  }
  if (identifier.empty()) identifier = newIdentifier();

  // Written every time, so a lost file comes back from the registry value.
  // When its folder is gone the write fails and is ignored.
  file.write(kFileSection, kFileKey, identifier);

  if (writeRegistry) {
    // A failing registry leaves the file in charge; the report still goes.
    try {
      writeRegistryText(context, kRegistryRoot, kRegistryKey, kRegistryValue, identifier);
    } catch (const ScriptError& error) {
      debugOutput(std::string("Machine identity: ") + error.what());
    }
    debugOutput("Write Mac Address " + identifier + " To Registry!");
  }
  return identifier;
}

}  // namespace lumo::commands
