// CreateShortCut, PinTaskBar, InstallIcon, RemoveIcon, RegDLL, UnRegDLL and
// GetMaxDisk: the product in the desktop's menus and on its desktop, its
// icon in the desktop's icon theme, its components registered, and the disk
// for its cache.
#include <filesystem>
#include <string>
#include <string_view>

#include "commands/families.h"
#include "formats/resource_bundle.h"
#include "platform/debug_channel.h"
#include "platform/desktop_entry.h"
#include "platform/desktop_favourites.h"
#include "platform/digest.h"
#include "platform/disks.h"
#include "platform/file_operations.h"
#include "platform/icon_theme.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/shared_module.h"
#include "platform/text.h"
#include "script/install_recorder.h"
#include "script/run_environment.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

constexpr std::string_view kLinkTargetNotFound = "[CreateShortCut] Source file or link not found: ";
constexpr std::string_view kPinLinkMissing = "[PinTaskBar] Source link not exists: ";
constexpr std::string_view kPinNotOffered = "[PinTaskBar] The desktop offers no taskbar to pin to: ";
constexpr std::string_view kPinFailed = "[PinTaskBar] Pinning failed: ";
constexpr std::string_view kModuleNotFound = "[RegDLL] Source file not found:";
constexpr std::string_view kBadIconName = "[InstallIcon] Invalid icon name: ";
constexpr std::string_view kNoProgramIcon = "[InstallIcon] This installer carries no icon: ";
constexpr std::string_view kIconNotWritten = "[InstallIcon] Icon not written: ";
// The program icon among the installer's resources.
constexpr std::uint32_t kProgramIconId = 128;
// The variable that holds the menu categories of program links, each
// followed by ";" ("AudioVideo;Video;Player;").
constexpr std::string_view kCategoriesVariable = "desktop_categories";

bool isWebAddress(std::string_view target) {
  return target.find("http://") != std::string_view::npos || target.find("https://") != std::string_view::npos;
}

struct LinkTarget {
  std::string path;
  std::string arguments;
};

// The target text carries the program's arguments after a "-" ("...\LumoInstaller
// -uinst"). A "-" inside the path itself (a folder "my-app", a home folder
// "/home/jean-luc") must not cut it, so a text that names an existing path
// as a whole is never cut, and otherwise the first "-" before which an
// existing file ends wins. Only when no such "-" exists does the first one
// count. Web addresses carry no arguments and are never cut.
LinkTarget splitLinkTarget(std::string_view target) {
  std::size_t first = target.find('-');
  if (first == std::string_view::npos || isWebAddress(target) || pathFileExists(nativePath(target)))
    return {std::string(target), ""};
  std::size_t cut = first;
  for (std::size_t dash = first; dash != std::string_view::npos; dash = target.find('-', dash + 1)) {
    const std::string program = nativePath(trim(target.substr(0, dash)));
    if (pathFileExists(program) && !isFolder(program)) {
      cut = dash;
      break;
    }
  }
  LinkTarget link{std::string(trim(target.substr(0, cut))), std::string(trim(target.substr(cut)))};
  // A lone "-" is not an argument.
  if (utf16Length(link.arguments) < 2) link.arguments.clear();
  return link;
}

// Where the desktop's shared data lives for this run: the programs menu's
// parent folder, /usr/share for a machine-wide run and $XDG_DATA_HOME for a
// user, so icons and file types follow the menu entries' scope.
std::string desktopDataFolder(const RunEnvironment& environment) {
  const std::string& menu = environment.smPrograms;
  return menu.empty() ? std::string() : std::filesystem::path(menu).parent_path().string();
}

// The ICON field: a name without a folder is an icon of the desktop's theme
// (installed with InstallIcon), which each desktop draws at the size it
// needs; anything else is an image file.
std::string linkIcon(const std::string& field) {
  if (field.empty()) return "";
  if (field.find_first_of("/\\") == std::string::npos && isThemeIconName(field)) return field;
  return nativePath(field);
}

std::vector<std::string> categoriesOf(std::string_view list) {
  std::vector<std::string> categories;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = std::min(list.find(';', start), list.size());
    std::string_view item = trim(list.substr(start, end - start));
    if (!item.empty()) categories.emplace_back(item);
    start = end + 1;
  }
  return categories;
}

void CreateShortCut(const CommandContext& context, const CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  const std::string& target = fields[1];
  if (!pathFileExists(nativePath(target)) && !isWebAddress(target) && target.find('-') == std::string::npos)
    throw ScriptError(std::string(kLinkTargetNotFound) + arguments.text);

  std::string linkPath = desktopEntryPath(nativePath(fields[0]));
  LinkTarget link = splitLinkTarget(target);
  DesktopEntry entry;
  // Menus show the link's own name, as the Windows shell shows a link's
  // file name; the description is the tooltip.
  entry.name = fileStem(linkPath);
  entry.comment = fields[3];
  entry.icon = linkIcon(fields[2]);
  if (isWebAddress(link.path)) {
    entry.url = std::string(trim(link.path));
  } else {
    std::string program = nativePath(link.path);
    if (!link.arguments.empty() || isExecutableFile(program) || !pathFileExists(program)) {
      entry.program = program;
      entry.arguments = splitCommandLine(link.arguments);
      entry.categories = categoriesOf(context.variables.get(std::string(kCategoriesVariable)));
    } else {
      // A document or a folder: the desktop opens it with its usual program.
      entry.url = fileUri(program);
    }
  }
  // Replaces an existing link in one step. A folder that does not exist
  // makes the write fail; nothing is reported, as with any link failure.
  const std::string recorded = resolvedPath(linkPath, false);
  forgetRecordedDigest(recorded);
  if (!writeDesktopEntry(linkPath, entry)) {
    debugOutput("[CreateShortCut] cannot write " + linkPath);
    return;
  }
  const std::string text = renderDesktopEntry(entry);
  noteRecordItem(RecordItem{
      .kind = RecordKind::Shortcut, .location = recorded, .size = text.size(), .sha256 = sha256Of(text)});
}

void PinTaskBar(const CommandContext&, const CommandArguments& arguments) {
  std::string link = desktopEntryPath(nativePath(arguments.text));
  if (!pathFileExists(link)) {
    debugOutput(std::string(kPinLinkMissing) + arguments.text);
    return;
  }
  // Linux counts as a system that offers the pin; whether this desktop does
  // is up to its session.
  switch (pinToFavourites(link)) {
    case PinOutcome::Pinned:
    case PinOutcome::AlreadyPinned: break;
    case PinOutcome::NotOffered: debugOutput(std::string(kPinNotOffered) + arguments.text); break;
    case PinOutcome::Failed: debugOutput(std::string(kPinFailed) + arguments.text); break;
  }
}

// The installer's own icon (every size it holds) into the desktop's icon
// theme under NAME, so that links may name it by NAME.
void InstallIcon(const CommandContext& context, const CommandArguments& arguments) {
  std::string name(trim(arguments.text));
  if (!isThemeIconName(name)) throw ScriptError(std::string(kBadIconName) + arguments.text);
  std::optional<std::string> icon = context.bundle.load("ICON", kProgramIconId);
  std::vector<IconImage> images = icon ? iconImages(*icon) : std::vector<IconImage>{};
  if (images.empty()) {
    debugOutput(std::string(kNoProgramIcon) + arguments.text);
    return;
  }
  const std::string dataFolder = desktopDataFolder(context.environment);
  std::vector<std::string> iconPaths;
  for (const IconImage& image : images) {
    iconPaths.push_back(resolvedPath(themeIconPath(dataFolder, name, image.size), false));
    forgetRecordedDigest(iconPaths.back());
  }
  if (!installThemeIcon(dataFolder, name, images)) debugOutput(std::string(kIconNotWritten) + arguments.text);
  for (std::size_t i = 0; i < images.size(); ++i) {
    if (!pathFileExists(iconPaths[i])) continue;
    noteRecordItem(RecordItem{.kind = RecordKind::Icon,
                              .location = iconPaths[i],
                              .size = images[i].png.size(),
                              .sha256 = sha256Of(images[i].png)});
  }
}

void RemoveIcon(const CommandContext& context, const CommandArguments& arguments) {
  std::string name(trim(arguments.text));
  if (!isThemeIconName(name)) return;
  removeThemeIcon(desktopDataFolder(context.environment), name);
  noteRemovedUnder(resolvedPath(desktopDataFolder(context.environment) + "/icons", false));
}

void RegDLL(const CommandContext&, const CommandArguments& arguments) {
  std::string module = nativePath(arguments.text);
  if (!pathFileExists(module)) throw ScriptError(std::string(kModuleNotFound) + arguments.text);
  callModuleEntry(module, "DllRegisterServer");
}

void UnRegDLL(const CommandContext&, const CommandArguments& arguments) {
  std::string module = nativePath(arguments.text);
  if (!pathFileExists(module)) return;
  callModuleEntry(module, "DllUnregisterServer");
}

// The "drive" is the mount point without its trailing "/", so that the
// script's "@maxdisk\cache" is the folder "cache" on that disk; the root
// file system therefore yields the empty text.
void GetMaxDisk(const CommandContext& context, const CommandArguments& arguments) {
  std::optional<std::string> disk = roomiestLocalDisk();
  if (!disk) return;
  std::string drive = *disk;
  while (!drive.empty() && drive.back() == '/') drive.pop_back();
  context.variables.set(*arguments.output, drive);
}

}  // namespace

namespace commands {

void registerShellCommands() {
  registerCommand("CreateShortCut", CreateShortCut, {.fields = 4, .paths = pathFields(0, 1, 2)});
  registerCommand("PinTaskBar", PinTaskBar, {.paths = pathFields(0)});
  registerCommand("InstallIcon", InstallIcon, {});
  registerCommand("RemoveIcon", RemoveIcon, {});
  registerCommand("RegDLL", RegDLL, {.paths = pathFields(0)});
  registerCommand("UnRegDLL", UnRegDLL, {.paths = pathFields(0)});
  registerCommand("GetMaxDisk", GetMaxDisk, {.output = Output::Required, .changesMachine = false});
}

}  // namespace commands
}  // namespace lumo
