// File-system commands: Delete, RMDir, MakeSurePath, Move, Copy, Exists,
// ClearTmp. A malformed line and a missing source of Move or Copy throw;
// every other failure of a file operation is silent and the script goes on.
// Paths are used as they arrive (not trimmed, relative to the current
// folder), with "\" read as "/".
#include <string>
#include <vector>

#include "platform/debug_channel.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

// The folder with "." and ".." resolved by the text alone, the way the path
// is meant as written; empty for anything that is not absolute.
std::string absoluteFolder(const std::string& text) {
  if (text.empty() || text[0] != '/') return {};
  std::vector<std::string> parts;
  resolvePathComponents(text, parts);
  std::string folder;
  for (const std::string& part : parts) folder += "/" + part;
  return folder;
}

void Delete(const std::string& arguments) { deleteFile(nativePath(arguments)); }

// The guard keeps the walk away from the root, from empty text and from
// relative paths (which would depend on whatever the current folder is).
void RMDir(const std::string& arguments) {
  debugOutput(arguments);
  std::string folder = absoluteFolder(nativePath(arguments));
  if (folder.empty()) return;
  removeTree(folder);
}

void MakeSurePath(const std::string& arguments) {
  std::string folder = nativePath(arguments);
  if (folder.empty() || folder.back() != '/') folder += '/';
  makeSurePathExists(folder);
}

// There is no "move at the next start" on Linux: a busy file can be renamed
// or replaced at once, so what still fails here (a read-only target, a
// missing folder, no permission) would fail again at the next start. The
// failure is traced and the script goes on.
void Move(const std::string& arguments) {
  std::vector<std::string> fields = splitFields("Move", arguments, 2);
  std::string source = nativePath(fields[0]);
  std::string target = nativePath(fields[1]);
  if (!pathFileExists(source)) throw ScriptError("[Move] Source file or path not found: " + fields[0]);
  // Deleting the target first would delete a source moved onto itself.
  if (isSameFile(source, target)) return;
  deleteFile(target);
  if (!moveFileNoReplace(source, target)) debugOutput("[Move] Can not move " + source + " to " + target);
}

void Copy(const std::string& arguments) {
  std::vector<std::string> fields = splitFields("Copy", arguments, 2);
  std::string source = nativePath(fields[0]);
  if (!copyFile(source, nativePath(fields[1])) && !pathFileExists(source))
    throw ScriptError("[Copy] Source file or path not found: " + fields[0]);
}

void Exists(const std::string& arguments) {
  OutputArguments output = splitOutput("Exists", arguments);
  if (SplitArguments(output.input).size() != 1) throwArgumentCount("Exists", 1, output.variable);
  SetVariable(output.variable, pathFileExists(nativePath(output.input)) ? "1" : "0");
}

void ClearTmp(const std::string&) {}

const CommandRegistration registrations[] = {
    {"Delete", Delete}, {"RMDir", RMDir},   {"MakeSurePath", MakeSurePath}, {"Move", Move},
    {"Copy", Copy},     {"Exists", Exists}, {"ClearTmp", ClearTmp},
};

}  // namespace
}  // namespace lumo
