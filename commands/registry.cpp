// Registry commands: ReadReg, WriteReg, DeleteReg and DeleteRegValue.
//
// The root field names HKEY_CURRENT_USER or HKEY_CLASSES_ROOT exactly;
// everything else, abbreviations and other letter cases included, means
// HKEY_LOCAL_MACHINE.
//
// What fails how (see docs/registry.md): a malformed line throws.
// A WriteReg whose value does not reach the store because of the store (damaged,
// not writable, full, I/O) throws too, naming the file and the cause: an
// installation that goes on without its uninstall entry could never be
// removed. The deletes report such a failure in the log and on stderr and go
// on: they run in the rollback and the uninstallation, which must not stop
// half way. Missing keys and values, and paths the store can not hold, are
// silent.
#include "commands/registry.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "commands/families.h"
#include "commands/file_types.h"
#include "formats/registry_store.h"
#include "platform/debug_channel.h"
#include "formats/resource_bundle.h"
#include "platform/file_operations.h"
#include "platform/text.h"
#include "script/install_recorder.h"
#include "script/run_environment.h"
#include "script/script_engine.h"

namespace {

using lumo::RegistryKey;
using lumo::RegistryResult;
using lumo::RegistryRoot;
using lumo::RegistryStatus;

// ReadReg reads into a zero-filled buffer of this many bytes; the last one
// always stays zero.
constexpr std::size_t kReadBufferBytes = 260;
// The recursive delete enumerates subkey names into a buffer of this many
// UTF-16 units; a longer name stops the delete.
constexpr std::size_t kKeyNameUnits = 260;

// "[Verb] text". Appended piece by piece: GCC 12 at -O3 takes "[" + text
// for an overlapping copy (-Wrestrict).
std::string withVerb(std::string_view verb, const std::string& text) {
  return std::string("[").append(verb).append("] ").append(text);
}

bool isStoreFailure(const RegistryResult<>& status) {
  if (status) return false;
  RegistryStatus failed = status.failure().status;
  return failed == RegistryStatus::StoreDamaged || failed == RegistryStatus::AccessDenied ||
         failed == RegistryStatus::CantWrite;
}

// Done, or nothing was there to delete.
bool isGone(const RegistryResult<>& status) {
  return status || status.failure().status == RegistryStatus::NotFound;
}

// Missing keys and values are ordinary; a store that can not be used is
// worth a line on the debug channel.
void traced(std::string_view verb, const RegistryResult<>& status) {
  if (isStoreFailure(status) || (!status && status.failure().status == RegistryStatus::InvalidParameter))
    lumo::debugOutput(withVerb(verb, status.why()));
}

// The store failed under a write: WriteReg stops the section with it.
void throwIfStoreFailed(std::string_view verb, const RegistryResult<>& status) {
  if (isStoreFailure(status)) throw lumo::ScriptError(withVerb(verb, status.why()));
  traced(verb, status);
}

// The store failed under a delete: the log and stderr say so, the section
// goes on.
void reportIfStoreFailed(std::string_view verb, const RegistryResult<>& status) {
  if (!isStoreFailure(status)) return;
  std::string message = withVerb(verb, status.why());
  lumo::Log(message + "\r\n");
  std::fprintf(stderr, "%s\n", message.c_str());
}

// The value of an uninstall entry that names the program to run.
constexpr std::string_view kUninstallCommand = "UninstallString";

// The program at the start of an uninstall command: the quoted text, or the
// longest part before a space that names a file (the folder may hold
// spaces, the switches follow one).
std::string uninstallerOf(const std::string& command) {
  if (command.starts_with('"')) return command.substr(1, command.find('"', 1) - 1);
  for (std::string candidate = command;;) {
    if (lumo::pathFileExists(candidate)) return candidate;
    std::size_t space = candidate.rfind(' ');
    if (space == std::string::npos) break;
    candidate.resize(space);
  }
  return command.substr(0, command.find(' '));
}

// An uninstall entry is the user's only way to remove the product: it may
// only name an uninstaller that is there and whole, else the entry would
// lead nowhere (or to a damaged program) once the installation ends.
void requireWholeUninstaller(const std::string& command) {
  std::string program = uninstallerOf(command);
  std::string why;
  if (!lumo::pathFileExists(program) || lumo::isFolder(program)) {
    why = "it is missing";
  } else {
    lumo::ResourceBundle bundle = lumo::ResourceBundle::open(program);
    if (bundle.damaged())
      why = bundle.error();
    else if (lumo::Result<void> verified = bundle.verifyAll(); !verified)
      why = verified.why().empty() ? "it cannot be read" : verified.why();
  }
  if (!why.empty())
    throw lumo::ScriptError("[WriteReg] The uninstaller " + program + " is not whole (" + why +
                      "); the uninstall entry is not written");
}

RegistryRoot rootFromName(std::string_view name) {
  if (name == "HKEY_CURRENT_USER") return RegistryRoot::CurrentUser;
  if (name == "HKEY_CLASSES_ROOT") return RegistryRoot::ClassesRoot;
  return RegistryRoot::LocalMachine;
}

// The record names a key by its root's long name and its path.
std::string recordedKey(std::string_view root, std::string_view key) {
  switch (rootFromName(root)) {
    case RegistryRoot::CurrentUser: return "HKEY_CURRENT_USER\\" + std::string(key);
    case RegistryRoot::ClassesRoot: return "HKEY_CLASSES_ROOT\\" + std::string(key);
    case RegistryRoot::LocalMachine: break;
  }
  return "HKEY_LOCAL_MACHINE\\" + std::string(key);
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
  if (cut && text.size() == kReadBufferBytes - 1) text = lumo::withoutCutCharacter(text);
  return std::string(text);
}

// The desktop's file types follow the associations in HKEY_CLASSES_ROOT.
void followedByDesktop(const lumo::RunEnvironment& environment, std::string_view rootName,
                       const RegistryResult<>& status) {
  if (rootFromName(rootName) == RegistryRoot::ClassesRoot && status)
    lumo::commands::updateDesktopFileTypes(environment);
}

void storeRegistryText(const lumo::RunEnvironment& environment, std::string_view root, const std::string& key,
                       const std::string& name, const std::string& text) {
  RegistryRoot rootKey = rootFromName(root);
  RegistryResult<RegistryKey> opened = lumo::openKey(rootKey, key);
  if (!opened) {
    opened = lumo::createKey(rootKey, key);
    if (!opened) return throwIfStoreFailed("WriteReg", opened.failure());
  }
  throwIfStoreFailed("WriteReg", lumo::setString(*opened, name, text));
  followedByDesktop(environment, root, RegistryResult<>());
}

}  // namespace

namespace lumo::commands {

std::optional<std::string> readRegistryText(std::string_view root, const std::string& key, const std::string& name) {
  RegistryResult<RegistryKey> opened = lumo::openKey(rootFromName(root), key);
  if (!opened) {
    traced("ReadReg", opened.failure());
    return std::nullopt;
  }
  // The result of the query is not looked at: a missing value leaves the
  // buffer empty and the text is empty.
  RegistryResult<lumo::RegistryValue> value = lumo::queryValue(*opened, name);
  return readBufferText(value ? value->bytes : std::string());
}

void writeRegistryText(std::string_view root, const std::string& key, const std::string& name,
                       const std::string& text) {
  storeRegistryText(runEnvironment(), root, key, name, text);
}

}  // namespace lumo::commands

namespace {

void ReadReg(const lumo::CommandContext& context, const lumo::CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  if (auto text = lumo::commands::readRegistryText(fields[0], fields[1], fields[2]))
    context.variables.set(*arguments.output, *text);
}

void WriteReg(const lumo::CommandContext& context, const lumo::CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  if (lumo::equalsIgnoreCase(fields[2], kUninstallCommand)) requireWholeUninstaller(fields[3]);
  storeRegistryText(context.environment, fields[0], fields[1], fields[2], fields[3]);
  // Only the script's own values are the installation's: the program's
  // typed writes (the machine identity) outlive it.
  lumo::noteRecordItem(lumo::RecordItem{.kind = lumo::RecordKind::RegistryValue,
                                        .location = recordedKey(fields[0], fields[1]),
                                        .name = fields[2],
                                        .source = fields[3]});
}

void DeleteReg(const lumo::CommandContext& context, const lumo::CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  if (fields[1].empty()) return;  // never the root itself
  // An uninstall entry that stays behind points at an uninstaller the
  // same rollback removes: whoever reads the log must learn that it stays.
  std::optional<std::string> uninstaller = lumo::commands::readRegistryText(fields[0], fields[1], std::string(kUninstallCommand));
  RegistryResult<RegistryKey> root = lumo::openKey(rootFromName(fields[0]), "");
  RegistryResult<> status = root ? lumo::deleteTree(*root, fields[1], kKeyNameUnits) : root.failure();
  if (isStoreFailure(status) && uninstaller && !uninstaller->empty()) {
    std::string message = "[DeleteReg] The uninstall entry " + fields[1] + " could not be removed and still runs \"" +
                          *uninstaller + "\": " + status.why();
    lumo::Log(message + "\r\n");
    std::fprintf(stderr, "%s\n", message.c_str());
    return;
  }
  reportIfStoreFailed("DeleteReg", status);
  if (isGone(status))
    lumo::noteRegistryRemoved(recordedKey(fields[0], fields[1]), std::nullopt);
  followedByDesktop(context.environment, fields[0], status);
}

void DeleteRegValue(const lumo::CommandContext& context, const lumo::CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  if (fields[1].empty() || fields[2].empty()) return;
  RegistryResult<RegistryKey> key = lumo::openKey(rootFromName(fields[0]), fields[1]);
  RegistryResult<> status = key ? lumo::deleteValue(*key, fields[2]) : key.failure();
  reportIfStoreFailed("DeleteRegValue", status);
  if (isGone(status))
    lumo::noteRegistryRemoved(recordedKey(fields[0], fields[1]), fields[2]);
  followedByDesktop(context.environment, fields[0], status);
}

}  // namespace

namespace lumo::commands {

void registerRegistryCommands() {
  registerCommand("ReadReg", ReadReg,
                  {.fields = 3, .output = lumo::Output::Required, .countErrorWithoutBlank = true, .changesMachine = false});
  registerCommand("WriteReg", WriteReg, {.fields = 4});
  registerCommand("DeleteReg", DeleteReg, {.fields = 2});
  registerCommand("DeleteRegValue", DeleteRegValue, {.fields = 3});
}

}  // namespace lumo::commands
