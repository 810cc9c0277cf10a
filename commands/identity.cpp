#include "commands/identity.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "script/run_environment.h"
#include "platform/debug_channel.h"
#include "platform/profile_file.h"
#include "platform/text.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

constexpr const char* kReadRegistry =
    "HKEY_CURRENT_USER|Software\\Microsoft\\Windows\\CurrentVersion\\Imee\\Address|MacAddr->macaddr";
constexpr const char* kWriteRegistry =
    "HKEY_CURRENT_USER|Software\\Microsoft\\Windows\\CurrentVersion\\Imee\\Address|MacAddr|";
constexpr const char* kFileSection = "Install";
constexpr const char* kFileKey = "ID";
// The file is read with a buffer of 260 characters.
constexpr std::size_t kFileValueLength = 259;

// The registry commands are reached through the verb registry, called with
// their argument text as a script line would give it (but without a line in
// the execution log). A failing registry leaves the other store in charge.
void callRegistryCommand(const char* verb, const std::string& arguments) {
  Handler handler = findHandler(verb);
  if (!handler) return;
  try {
    handler(arguments);
  } catch (const ScriptError& error) {
    debugOutput(std::string("Machine identity: ") + error.what());
  }
}

std::string newIdentifier() {
  if (auto guid = createGuid()) return guidIdentifier(*guid);
  auto seconds = static_cast<std::uint32_t>(std::time(nullptr));
  return fallbackIdentifier(seconds, tickCount(), static_cast<unsigned>(std::rand()), firstAdapterAddress());
}

}  // namespace

std::string identityFilePath() { return runEnvironment().kernel + "/LumoClient/InstallConfig.ini"; }

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

std::string GetMachineId() {
  callRegistryCommand("ReadReg", kReadRegistry);
  std::string identifier(trim(GetVariable("macaddr")));

  bool writeRegistry = false;
  ProfileFile file(identityFilePath(), TextEncoding::Utf8);
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
    callRegistryCommand("WriteReg", kWriteRegistry + identifier);
    debugOutput("Write Mac Address " + identifier + " To Registry!");
  }
  return identifier;
}

}  // namespace lumo
