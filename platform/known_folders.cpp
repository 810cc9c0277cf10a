#include "platform/known_folders.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/sysroot.h"
#include "platform/text.h"

namespace lumo {
namespace {

// One line of user-dirs.dirs: XDG_DESKTOP_DIR="$HOME/Desktop". Only
// absolute paths and paths relative to $HOME are valid there.
std::string desktopFromUserDirs() {
  std::ifstream file(userConfigFolder() + "/user-dirs.dirs");
  std::string line;
  while (std::getline(file, line)) {
    std::string_view text = trim(line);
    constexpr std::string_view kKey = "XDG_DESKTOP_DIR=";
    if (!text.starts_with(kKey)) continue;
    text.remove_prefix(kKey.size());
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    if (text.starts_with("$HOME")) return homeFolder() + std::string(text.substr(5));
    if (text.starts_with("/")) return std::string(text);
  }
  return {};
}

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string temporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp && *tmp ? tmp : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string userDesktopFolder() {
  if (const char* desktop = std::getenv("XDG_DESKTOP_DIR"); desktop && *desktop) return withoutTrailingSlash(desktop);
  std::string fromFile = desktopFromUserDirs();
  if (!fromFile.empty()) return withoutTrailingSlash(fromFile);
  return withoutTrailingSlash(homeFolder()) + "/Desktop";
}

SpecialFolders specialFolders(bool machineWide) {
  SpecialFolders folders;
  folders.curDesktop = userDesktopFolder();
  folders.appData = withoutTrailingSlash(userConfigFolder());
  folders.system = machinePath("/usr/bin");
  folders.tempDir = temporaryFolder();
  if (machineWide) {
    folders.programFiles = machinePath("/opt");
    folders.kernel = machinePath("/var/lib/LuMo");
    // Linux has no desktop shared by all users; the skeleton of new
    // accounts is the nearest thing.
    folders.desktop = machinePath("/etc/skel/Desktop");
    folders.smPrograms = machinePath("/usr/share/applications");
    // What a machine-wide installation keeps as application data (the
    // uninstaller and its script, the autostart entry) must serve every
    // administrator, not only the one who installed: the machine-wide
    // configuration folder, whose "autostart" every session reads. Root's
    // own folder is mode 0700.
    folders.appData = machinePath("/etc/xdg");
  } else {
    std::string data = withoutTrailingSlash(userDataFolder());
    folders.programFiles = data;
    folders.kernel = data + "/LuMo";
    folders.desktop = folders.curDesktop;
    folders.smPrograms = data + "/applications";
  }
  return folders;
}

bool makeFolders(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return std::filesystem::is_directory(path, ec);
}

}  // namespace lumo
