// Registry commands: ReadReg, WriteReg, DeleteReg and DeleteRegValue.
//
// The root field names HKEY_CURRENT_USER or HKEY_CLASSES_ROOT exactly;
// everything else, abbreviations and other letter cases included, means
// HKEY_LOCAL_MACHINE. Failures of the store itself are silent: the script
// goes on. Only a malformed line throws.
#include <string>
#include <string_view>

#include "platform/debug_channel.h"
#include "platform/registry_store.h"
#include "script/script_engine.h"

namespace {

using lumo::RegistryKey;
using lumo::RegistryRoot;
using lumo::RegistryStatus;

// ReadReg reads into a zero-filled buffer of this many bytes; the last one
// always stays zero.
constexpr std::size_t kReadBufferBytes = 260;
// The recursive delete enumerates subkey names into a buffer of this many
// UTF-16 units; a longer name stops the delete.
constexpr std::size_t kKeyNameUnits = 260;

// Missing keys and values are ordinary; a store that can not be used is
// worth a line on the debug channel, though the script goes on regardless.
RegistryStatus traced(std::string_view verb, RegistryStatus status) {
  if (status == RegistryStatus::StoreDamaged || status == RegistryStatus::AccessDenied ||
      status == RegistryStatus::CantWrite)
    lumo::debugOutput("[" + std::string(verb) + "] " + lumo::lastRegistryError());
  return status;
}

RegistryRoot rootFromName(std::string_view name) {
  if (name == "HKEY_CURRENT_USER") return RegistryRoot::CurrentUser;
  if (name == "HKEY_CLASSES_ROOT") return RegistryRoot::ClassesRoot;
  return RegistryRoot::LocalMachine;
}

// What a narrow read of the value into the zero-filled buffer leaves there,
// as text. A value that does not fit gives its first 259 bytes, cut back to
// the last whole UTF-8 character so that no half character reaches the
// variable store.
std::string readBufferText(const std::string& bytes) {
  std::string_view text(bytes);
  bool cut = text.size() > kReadBufferBytes - 1;
  if (cut) text = text.substr(0, kReadBufferBytes - 1);
  text = text.substr(0, text.find('\0'));
  if (cut && text.size() == kReadBufferBytes - 1) {
    // Drop a trailing sequence that the cut left incomplete.
    std::size_t start = text.size();
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) --start;
    if (start > 0) {
      auto lead = static_cast<unsigned char>(text[start - 1]);
      std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      if (length > 1 && text.size() - (start - 1) < length) text = text.substr(0, start - 1);
    }
  }
  return std::string(text);
}

void ReadReg(const std::string& arguments) {
  lumo::OutputArguments output = lumo::splitOutput("ReadReg", arguments);
  std::vector<std::string> fields = lumo::SplitArguments(output.input);
  if (fields.size() != 3) throw lumo::ScriptError("[ReadReg] Invalid arguments (nArg!=3):" + output.variable);

  RegistryKey key;
  if (traced("ReadReg", lumo::openKey(rootFromName(fields[0]), fields[1], key)) != RegistryStatus::Ok) return;
  // The result of the query is not looked at: a missing value leaves the
  // buffer empty and the variable becomes the empty text.
  lumo::RegistryValue value;
  lumo::queryValue(key, fields[2], value);
  lumo::SetVariable(output.variable, readBufferText(value.bytes));
}

void WriteReg(const std::string& arguments) {
  std::vector<std::string> fields = lumo::splitFields("WriteReg", arguments, 4);
  RegistryRoot root = rootFromName(fields[0]);
  RegistryKey key;
  if (lumo::openKey(root, fields[1], key) != RegistryStatus::Ok &&
      traced("WriteReg", lumo::createKey(root, fields[1], key)) != RegistryStatus::Ok)
    return;
  traced("WriteReg", lumo::setString(key, fields[2], fields[3]));
}

// Deletes `name` below `parent` with all its subkeys, depth first. The first
// failure stops everything and is returned; what was deleted stays deleted.
RegistryStatus deleteTree(const RegistryKey& parent, const std::string& name) {
  if (name.empty()) return RegistryStatus::BadKey;
  RegistryKey key;
  if (RegistryStatus status = lumo::openKey(parent, name, key); status != RegistryStatus::Ok) return status;
  while (true) {
    // Index 0 every time: each successful round removes that subkey.
    std::string subkey;
    RegistryStatus status = lumo::enumSubkey(key, 0, subkey, kKeyNameUnits);
    if (status == RegistryStatus::NoMoreItems) return lumo::deleteKey(parent, name);
    if (status != RegistryStatus::Ok) return status;
    if ((status = deleteTree(key, subkey)) != RegistryStatus::Ok) return status;
  }
}

void DeleteReg(const std::string& arguments) {
  std::vector<std::string> fields = lumo::splitFields("DeleteReg", arguments, 2);
  if (fields[1].empty()) return;  // never the root itself
  RegistryKey root;
  if (lumo::openKey(rootFromName(fields[0]), "", root) != RegistryStatus::Ok) return;
  traced("DeleteReg", deleteTree(root, fields[1]));
}

void DeleteRegValue(const std::string& arguments) {
  std::vector<std::string> fields = lumo::splitFields("DeleteRegValue", arguments, 3);
  if (fields[1].empty() || fields[2].empty()) return;
  RegistryKey key;
  if (traced("DeleteRegValue", lumo::openKey(rootFromName(fields[0]), fields[1], key)) != RegistryStatus::Ok) return;
  traced("DeleteRegValue", lumo::deleteValue(key, fields[2]));
}

const lumo::CommandRegistration registrations[] = {
    {"ReadReg", ReadReg},
    {"WriteReg", WriteReg},
    {"DeleteReg", DeleteReg},
    {"DeleteRegValue", DeleteRegValue},
};

}  // namespace
