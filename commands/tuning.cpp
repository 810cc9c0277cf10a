// System tuning commands: MaxConnection, Compatibility and FireWallAllow.
//
// Linux counts as a system of version 6 or later, so only those choices
// exist here. The connection limit and the compatibility mark go into
// existing keys of the registry store and never create one: where nobody
// made the key, nobody reads the value. Linux has no per-program firewall,
// so FireWallAllow records the permission in the store instead (see
// docs/registry.md).
#include <cstdint>
#include <string>
#include <string_view>

#include "commands/families.h"
#include "formats/registry_store.h"
#include "platform/debug_channel.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "script/decimal.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

constexpr const char* kMaxConnectionKey =
    "SOFTWARE\\Microsoft\\Internet Explorer\\MAIN\\FeatureControl\\FEATURE_MAXCONNECTIONSPER1_0SERVER";
constexpr const char* kMaxConnectionValue = "explorer.exe";
constexpr const char* kCompatibilityKey =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted";
constexpr std::uint32_t kMinimumConnections = 10;

// Where FireWallAllow records permissions: one string value per program
// (named by the program's path), holding the rule's name.
constexpr const char* kFirewallKey = "SOFTWARE\\Lumo\\Firewall\\AllowedPrograms";

void MaxConnection(const CommandContext&, const CommandArguments& arguments) {
  // Compared unsigned: a negative number is a large limit, written as its
  // 32-bit pattern.
  auto limit = static_cast<std::uint32_t>(readDecimal(arguments.text));
  if (limit < kMinimumConnections) return;
  // Written only where the user's settings have the key already; a store
  // that refuses the value changes nothing the script could act on.
  if (RegistryResult<RegistryKey> key = openKey(RegistryRoot::CurrentUser, kMaxConnectionKey))
    static_cast<void>(setDword(*key, kMaxConnectionValue, limit));
}

void Compatibility(const CommandContext&, const CommandArguments& arguments) {
  std::string program = nativePath(arguments.text);
  if (!pathFileExists(program)) return;
  if (RegistryResult<RegistryKey> key = openKey(RegistryRoot::CurrentUser, kCompatibilityKey))
    static_cast<void>(setDword(*key, program, 1));
}

void FireWallAllow(const CommandContext&, const CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  const std::string program = nativePath(fields[0]);
  const std::string& name = fields[1];
  // A machine-wide permission, as a firewall rule is; a failure to record it
  // is as silent as a failing firewall tool would be.
  RegistryResult<RegistryKey> key = createKey(RegistryRoot::LocalMachine, kFirewallKey);
  RegistryResult<> status = key ? setString(*key, program, name) : key.failure();
  debugOutput("[FireWallAllow] no per-program firewall on this system; permission \"" + name + "\" for " +
                    program + (status ? " recorded under HKEY_LOCAL_MACHINE\\" + std::string(kFirewallKey)
                                      : " not recorded: " + status.why()));
}

}  // namespace

namespace commands {

void registerTuningCommands() {
  registerCommand("MaxConnection", MaxConnection, {});
  registerCommand("Compatibility", Compatibility, {.paths = lumo::pathFields(0)});
  registerCommand("FireWallAllow", FireWallAllow, {.fields = 2, .paths = lumo::pathFields(0)});
}

}  // namespace commands
}  // namespace lumo
