// System tuning commands: MaxConnection, Compatibility and FireWallAllow.
//
// Linux counts as a system of version 6 or later, so only those choices
// exist here. The connection limit and the compatibility mark go into
// existing keys of the registry store and never create one: where nobody
// made the key, nobody reads the value. Linux has no per-program firewall,
// so FireWallAllow records the permission in the store instead (see README,
// "Registry store").
#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/debug_channel.h"
#include "platform/paths.h"
#include "platform/registry_store.h"
#include "script/script_engine.h"

namespace {

using lumo::RegistryKey;
using lumo::RegistryRoot;
using lumo::RegistryStatus;

constexpr const char* kMaxConnectionKey =
    "SOFTWARE\\Microsoft\\Internet Explorer\\MAIN\\FeatureControl\\FEATURE_MAXCONNECTIONSPER1_0SERVER";
constexpr const char* kMaxConnectionValue = "explorer.exe";
constexpr const char* kCompatibilityKey =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted";
constexpr std::uint32_t kMinimumConnections = 10;

// Where FireWallAllow records permissions: one string value per program
// (named by the program's path), holding the rule's name.
constexpr const char* kFirewallKey = "SOFTWARE\\Lumo\\Firewall\\AllowedPrograms";

// The number at the start of the text, as the wide-character atoi reads it:
// white space, an optional sign, digits up to the first other character;
// no number gives 0, a number out of range gives INT_MAX or INT_MIN.
int leadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long number = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    number = number * 10 + (text[i] - '0');
    if (number > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) number = -number;
  if (number > INT_MAX) return INT_MAX;
  if (number < INT_MIN) return INT_MIN;
  return static_cast<int>(number);
}

void MaxConnection(const std::string& arguments) {
  // Compared unsigned: a negative number is a large limit, written as its
  // 32-bit pattern.
  auto limit = static_cast<std::uint32_t>(leadingInteger(arguments));
  if (limit < kMinimumConnections) return;
  RegistryKey key;
  if (lumo::openKey(RegistryRoot::CurrentUser, kMaxConnectionKey, key) != RegistryStatus::Ok) return;
  lumo::setDword(key, kMaxConnectionValue, limit);
}

void Compatibility(const std::string& arguments) {
  std::string program = lumo::nativePath(arguments);
  struct stat info {};
  if (program.empty() || ::stat(program.c_str(), &info) != 0) return;
  RegistryKey key;
  if (lumo::openKey(RegistryRoot::CurrentUser, kCompatibilityKey, key) != RegistryStatus::Ok) return;
  lumo::setDword(key, program, 1);
}

void FireWallAllow(const std::string& arguments) {
  std::vector<std::string> fields = lumo::splitFields("FireWallAllow", arguments);
  const std::string program = lumo::nativePath(fields[0]);
  const std::string& name = fields[1];
  // A machine-wide permission, as a firewall rule is; a failure to record it
  // is as silent as a failing firewall tool would be.
  RegistryKey key;
  RegistryStatus status = lumo::createKey(RegistryRoot::LocalMachine, kFirewallKey, key);
  if (status == RegistryStatus::Ok) status = lumo::setString(key, program, name);
  lumo::debugOutput("[FireWallAllow] no per-program firewall on this system; permission \"" + name + "\" for " +
                    program + (status == RegistryStatus::Ok ? " recorded under HKEY_LOCAL_MACHINE\\" +
                                                                  std::string(kFirewallKey)
                                                            : " not recorded: " + lumo::lastRegistryError()));
}

const lumo::CommandRegistration registrations[] = {
    {"MaxConnection", MaxConnection},
    {"Compatibility", Compatibility, {.paths = lumo::pathFields(0)}},
    {"FireWallAllow", FireWallAllow, {.fields = 2, .paths = lumo::pathFields(0)}},
};

}  // namespace
