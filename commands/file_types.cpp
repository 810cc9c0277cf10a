#include "commands/file_types.h"

#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "formats/registry_store.h"
#include "platform/atomic_file.h"
#include "platform/debug_channel.h"
#include "platform/desktop_entry.h"
#include "platform/digest.h"
#include "platform/file_operations.h"
#include "platform/icon_theme.h"
#include "platform/mime_types.h"
#include "platform/process.h"
#include "platform/text.h"
#include "script/install_recorder.h"
#include "script/run_environment.h"

namespace lumo::commands {
namespace {

namespace fs = std::filesystem;

// Names of the files this installer writes for file types; anything else in
// the shared folders belongs to other programs and is never touched.
constexpr std::string_view kFilePrefix = "lumo-";
constexpr std::size_t kKeyNameUnits = 260;

struct FileType {
  std::vector<std::string> extensions;  // ".zmv"
  std::string command;                  // the open command line
  std::string name;
  std::string icon;
};

std::optional<std::string> defaultText(std::string_view keyPath) {
  RegistryResult<RegistryKey> key = openKey(RegistryRoot::ClassesRoot, keyPath);
  if (!key) return std::nullopt;
  RegistryResult<RegistryValue> value = queryValue(*key, "");
  if (!value) return std::nullopt;
  std::string text = valueText(*value);
  return text.substr(0, text.find('\0'));
}

// "path,0" or a theme name: a desktop entry takes an absolute path or a
// theme name, never an index.
std::string iconOf(std::string location) {
  if (std::size_t comma = location.rfind(','); comma != std::string::npos) {
    std::string_view index = trim(std::string_view(location).substr(comma + 1));
    if (!index.empty() && index.find_first_not_of("-0123456789") == std::string_view::npos)
      location.erase(comma);
  }
  location = std::string(trim(location));
  if (location.starts_with('/') || isThemeIconName(location)) return location;
  return {};
}

// Every type key that an extension names and that has an open command.
std::map<std::string, FileType> associatedTypes() {
  std::map<std::string, FileType> types;
  RegistryResult<RegistryKey> root = openKey(RegistryRoot::ClassesRoot, "");
  if (!root) return types;
  for (std::uint32_t i = 0;; ++i) {
    RegistryResult<std::string> subkey = enumSubkey(*root, i, kKeyNameUnits);
    if (!subkey) break;
    const std::string& name = *subkey;
    if (name.size() < 2 || name.front() != '.' || mimeTypeForExtension(name).empty()) continue;
    std::optional<std::string> typeKey = defaultText(name);
    if (!typeKey || typeKey->empty()) continue;
    types[*typeKey].extensions.push_back(toLowerAscii(name));
  }
  for (auto it = types.begin(); it != types.end();) {
    FileType& type = it->second;
    type.command = defaultText(it->first + "\\shell\\open\\command").value_or("");
    if (type.command.empty()) {
      it = types.erase(it);
      continue;
    }
    type.name = defaultText(it->first).value_or("");
    type.icon = iconOf(defaultText(it->first + "\\DefaultIcon").value_or(""));
    ++it;
  }
  return types;
}

std::string fileId(const std::string& typeKey) {
  std::string id(kFilePrefix);
  for (char c : toLowerAscii(typeKey))
    id += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' ? c : '-';
  return id;
}

DesktopEntry openerEntry(const FileType& type) {
  DesktopEntry entry;
  std::vector<std::string> words = splitCommandLine(type.command);
  entry.program = words.empty() ? std::string() : words.front();
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (words[i] == "%1" || words[i] == "%L") entry.fileArgument = entry.arguments.size();
    entry.arguments.push_back(words[i]);
  }
  // A command without a place for the file still gets it, last.
  if (!entry.fileArgument) {
    entry.fileArgument = entry.arguments.size();
    entry.arguments.push_back("%1");
  }
  entry.name = type.name.empty() ? fileStem(entry.program) : type.name;
  entry.icon = type.icon;
  entry.hidden = true;
  for (const std::string& extension : type.extensions) entry.mimeTypes.push_back(mimeTypeForExtension(extension));
  return entry;
}

std::string mimePackage(const FileType& type) {
  std::vector<MimeTypeDeclaration> declarations;
  for (const std::string& extension : type.extensions)
    declarations.push_back({mimeTypeForExtension(extension), type.name, type.icon, {"*" + extension}});
  return renderMimePackage(declarations);
}

// Writes the files wanted in `folder` (file name → text) that differ, and
// removes our files there that are no longer wanted. True when anything
// changed.
bool syncFolder(const std::string& folder, std::string_view suffix, const std::map<std::string, std::string>& wanted,
                mode_t mode) {
  bool changed = false;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    if (name.starts_with(kFilePrefix) && name.ends_with(suffix) && !wanted.count(name)) {
      changed = deleteFile(entry.path().string()) || changed;
      noteRemovedUnder(resolvedPath(entry.path().string(), false));
    }
  }
  if (!wanted.empty() && !isFolder(folder)) fs::create_directories(folder, ec);
  for (const auto& [name, text] : wanted) {
    std::string path = folder + "/" + name;
    if (pathFileExists(path)) {
      auto existing = readRewritableFile(path);
      if (existing && existing->content == text) continue;
    }
    const std::string recorded = resolvedPath(path, false);
    forgetRecordedDigest(recorded);
    changed = true;
    if (!replaceFileAtomically(path, text, mode)) {
      debugOutput("[WriteReg] cannot write " + path);
      continue;
    }
    noteRecordItem(RecordItem{
        .kind = RecordKind::Association, .location = recorded, .size = text.size(), .sha256 = sha256Of(text)});
  }
  return changed;
}

}  // namespace

void updateDesktopFileTypes(const RunEnvironment& environment) {
  // Only a desktop whose programs menu is there is told anything; the
  // folder comes from the run environment, which a run fills at start-up.
  const std::string applications = environment.smPrograms;
  if (applications.empty() || !isFolder(applications)) return;
  const std::string dataFolder = fs::path(applications).parent_path().string();

  std::map<std::string, std::string> packages, entries;
  for (const auto& [typeKey, type] : associatedTypes()) {
    std::string id = fileId(typeKey);
    packages[id + ".xml"] = mimePackage(type);
    entries[id + ".desktop"] = renderDesktopEntry(openerEntry(type));
  }
  if (syncFolder(mimePackagesFolder(dataFolder), ".xml", packages, 0644)) refreshMimeDatabase(dataFolder);
  if (syncFolder(applications, ".desktop", entries, 0644)) refreshDesktopDatabase(applications);
}

}  // namespace lumo::commands
