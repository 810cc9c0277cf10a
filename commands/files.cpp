// File-system commands: Delete, RMDir, MakeSurePath, Move, Copy, Exists,
// ClearTmp. A malformed line, a Move or Copy that cannot complete and an
// RMDir of a protected folder, a system folder or an install folder that is
// no product folder throw; every other failure of a file
// operation is silent and the script goes on.
// Paths are used as they arrive (not trimmed, relative to the current
// folder), with "\" read as "/".
#include <string>
#include <vector>

#include "commands/families.h"
#include "commands/recorded_removal.h"
#include "platform/debug_channel.h"
#include "platform/digest.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "platform/sysroot.h"
#include "platform/system_folders.h"
#include "script/install_folder.h"
#include "script/install_recorder.h"
#include "script/product_identity.h"
#include "script/run_environment.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

constexpr char kProtectedFolderError[] = "[RMDir] Protected folder not removed: ";
constexpr char kSystemFolderError[] = "[RMDir] System folder not removed: ";
constexpr char kNotProductFolderError[] = "[RMDir] Install folder not removed: ";

// Folders of the run that hold more than the product: the root, the user's
// home, the desktops, the menus, the application data, the programs folder,
// the temporary folder and the system folder. Removing one of them, or a
// folder above one, would take the user's own things with it. The product's
// own folders ($KERNEL, $INSTALL) are not among them.
std::vector<std::string> protectedFolders(const RunEnvironment& environment) {
  std::vector<std::string> folders;
  for (const std::string& folder :
       {std::string("/"), machinePath("/"), homeFolder(), environment.desktop, environment.curDesktop,
        environment.smPrograms, environment.appData, environment.programFiles, environment.tempDir,
        environment.system}) {
    if (!folder.empty()) folders.push_back(resolvedPath(folder));
  }
  return folders;
}

bool isProtectedFolder(const std::string& folder, const RunEnvironment& environment) {
  const std::string below = folder == "/" ? folder : folder + "/";
  for (const std::string& kept : protectedFolders(environment)) {
    if (kept == folder || kept.starts_with(below)) return true;
  }
  return false;
}

// Whether `folder` (resolved, its last link kept) is the folder this run
// installs into or the earlier installation's folder. Both come from
// records or choices, not from the script's own text, so their removal is
// held to the product folder's rules.
bool isInstallFolder(const std::string& folder, const CommandContext& context) {
  for (const std::string& install :
       {context.installFolder, nativePath(context.variables.get(kEarlierFolderVariable))}) {
    if (install.starts_with('/') && resolvedPath(install, false) == folder) return true;
  }
  return false;
}

void Delete(const CommandContext&, const CommandArguments& arguments) {
  const std::string path = nativePath(arguments.text);
  const std::string recorded = resolvedPath(path, false);
  std::optional<RecordItem> known = takeRecordedPath(recorded);
  // A file that stays (read-only, a folder in its place) stays on record.
  if (!deleteFile(path) && known && pathFileExists(recorded)) putBackRecordItem(std::move(*known));
}

// Whether `folder` is the product folder of this installation or of the
// earlier one, or lies inside one: what the record lists there is removed
// exactly, whatever else is there stays.
bool isInsideInstallFolder(const std::string& folder, const CommandContext& context) {
  for (const std::string& install :
       {context.installFolder, nativePath(context.variables.get(kEarlierFolderVariable))}) {
    if (!install.starts_with('/')) continue;
    const std::string resolved = resolvedPath(install, false);
    if (folder == resolved || folder.starts_with(resolved + "/")) return true;
  }
  return false;
}

// Empty text and relative paths (which would depend on whatever the current
// folder is) are passed over. The guard compares the folder the walk would
// really remove: "<home>/Vexta/.." is the home folder. A link named last is
// only unlinked, so it is judged as itself and not by what it points to.
void RMDir(const CommandContext& context, const CommandArguments& arguments) {
  debugOutput(arguments.text);
  std::string text = nativePath(arguments.text);
  if (text.empty() || text[0] != '/') return;
  std::string folder = resolvedPath(text, false);
  if (isProtectedFolder(folder, context.environment)) throw ScriptError(kProtectedFolderError + arguments.text);
  // A standard folder of the system or a mount point holds more than any
  // product, whatever a line or a record says.
  if (isStandardSystemFolder(folder) || isMountPoint(folder)) throw ScriptError(kSystemFolderError + arguments.text);
  if (isInstallFolder(folder, context)) {
    if (std::optional<std::string> why = whyNotProductFolder(folder, productIdentity(context.variables).folder))
      throw ScriptError(kNotProductFolderError + *why);
  }
  // Without a record of what the installation wrote there (one made before
  // records were kept) the folder goes as a whole, as it always did.
  if (isInsideInstallFolder(folder, context) && commands::removeRecordedFolder(folder)) return;
  removeTree(folder);
  noteRemovedUnder(folder);
}

void MakeSurePath(const CommandContext&, const CommandArguments& arguments) {
  std::string folder = nativePath(arguments.text);
  if (folder.empty() || folder.back() != '/') folder += '/';
  std::vector<std::string> created;
  makeSurePathExists(folder, &created);
  for (std::string& made : created) made = resolvedPath(made, false);
  noteFoldersCreated(created);
}

// There is no "move at the next start" on Linux: a busy file can be renamed
// or replaced at once, so what still fails here (a read-only target, a
// missing folder, a full disk) would fail again at the next start. A move
// that cannot complete raises its error; the target and the source are then
// as they were.
void Move(const CommandContext&, const CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  std::string source = nativePath(fields[0]);
  std::string target = nativePath(fields[1]);
  if (!pathFileExists(source)) throw ScriptError("[Move] Source file or path not found: " + fields[0]);
  if (isSameFile(source, target)) return;
  const std::string from = resolvedPath(source, false);
  const std::string to = resolvedPath(target, false);
  forgetRecordedDigest(to);
  std::optional<RecordItem> known = takeRecordedPath(from);
  if (Result<void> moved = moveFile(source, target); !moved) {
    if (known) putBackRecordItem(std::move(*known));
    throw ScriptError("[Move] Can not move " + fields[0] + " to " + fields[1] + ": " + moved.why());
  }
  // The moved file keeps what the record knew of it (a payload entry moved
  // out of the product folder can still be repaired); one the record did
  // not know is the installation's now, its bytes unknown.
  noteRemovedUnder(from);
  RecordItem moved = known ? *known : RecordItem{.kind = isFolder(to) ? RecordKind::Folder : RecordKind::File};
  moved.location = to;
  if (!known && moved.kind == RecordKind::File) moved.source = "moved:" + from;
  noteRecordItem(std::move(moved));
}

// A copy that cannot complete raises its error, so that a cut uninstaller
// or an empty working script is never taken for a copy that worked.
void Copy(const CommandContext& context, const CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  std::string source = nativePath(fields[0]);
  const std::string target = resolvedPath(nativePath(fields[1]), true);
  const bool onItself = isSameFile(source, target);
  forgetRecordedDigest(target);
  Sha256Stream written;
  Result<void> copied = copyFile(source, nativePath(fields[1]), &written);
  if (copied) {
    if (onItself) return;
    // The working script is rewritten by every run of the copied
    // uninstaller: its bytes are not the installation's to check.
    const bool script = context.variables.storedIn(source);
    std::optional<std::string> digest = written.finish();
    noteRecordItem(RecordItem{.kind = RecordKind::File,
                              .location = target,
                              .size = script ? std::nullopt : std::optional<std::uint64_t>(written.size()),
                              .sha256 = script ? std::nullopt : digest,
                              .source = "copy:" + source});
    return;
  }
  if (!pathFileExists(source)) throw ScriptError("[Copy] Source file or path not found: " + fields[0]);
  throw ScriptError("[Copy] Can not copy " + fields[0] + " to " + fields[1] + ": " + copied.why());
}

void Exists(const CommandContext& context, const CommandArguments& arguments) {
  context.variables.set(*arguments.output, pathFileExists(nativePath(arguments.text)) ? "1" : "0");
}

void ClearTmp(const CommandContext&, const CommandArguments&) {}

}  // namespace

namespace commands {

void registerFileCommands() {
  registerCommand("Delete", Delete, {.paths = pathFields(0)});
  registerCommand("RMDir", RMDir, {.paths = pathFields(0)});
  registerCommand("MakeSurePath", MakeSurePath, {.paths = pathFields(0)});
  registerCommand("Move", Move, {.fields = 2, .paths = pathFields(0, 1)});
  registerCommand("Copy", Copy, {.fields = 2, .paths = pathFields(0, 1)});
  registerCommand("Exists", Exists, {.fields = 1, .output = Output::Required, .paths = pathFields(0), .changesMachine = false});
  registerCommand("ClearTmp", ClearTmp, {.paths = pathFields(0)});
}

}  // namespace commands
}  // namespace lumo
