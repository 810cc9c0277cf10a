#include "platform/icon_theme.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <filesystem>

#include "platform/atomic_file.h"
#include "platform/process.h"

namespace lumo {
namespace {

namespace fs = std::filesystem;

// A fixed path: the installer may run as root, so nothing is looked up in
// the current folder or PATH.
constexpr const char* kCacheTool = "/usr/bin/gtk-update-icon-cache";
constexpr int kToolWaitMilliseconds = 5000;
constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";

std::uint32_t littleEndian(std::string_view bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::uint32_t bigEndian32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::string themeFolder(const std::string& dataFolder) { return dataFolder + "/icons/hicolor"; }

bool hasIcons(const fs::path& theme) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(theme, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    if (it->is_regular_file(ec) && it->path().parent_path().filename() == "apps") return true;
  return false;
}

// The cache speeds up lookups; a theme folder without an index (a user's
// own hicolor folder) is cached too, as desktops read it the same way.
void refreshIconCache(const std::string& theme) {
  if (::access(kCacheTool, X_OK) != 0) return;
  long process = startProcess({kCacheTool, {kCacheTool, "-q", "-t", "-f", theme}}, false);
  if (process != 0) waitForProcess(process, kToolWaitMilliseconds);
}

}  // namespace

std::vector<IconImage> iconImages(std::string_view ico) {
  constexpr std::size_t kHeader = 6, kEntry = 16;
  std::vector<IconImage> images;
  if (ico.size() < kHeader || littleEndian(ico, 0, 2) != 0 || littleEndian(ico, 2, 2) != 1) return images;
  std::size_t count = littleEndian(ico, 4, 2);
  if (ico.size() < kHeader + count * kEntry) return images;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t entry = kHeader + i * kEntry;
    std::uint64_t size = littleEndian(ico, entry + 8, 4), offset = littleEndian(ico, entry + 12, 4);
    if (offset + size > ico.size() || size < 24) continue;
    std::string_view png = ico.substr(offset, size);
    // The header chunk follows the signature: length, "IHDR", width, height.
    if (!png.starts_with(kPngSignature) || png.substr(12, 4) != "IHDR") continue;
    std::uint32_t width = bigEndian32(png, 16), height = bigEndian32(png, 20);
    if (width == 0 || width != height || width > 1024) continue;
    images.push_back({static_cast<int>(width), std::string(png)});
  }
  return images;
}

bool isThemeIconName(std::string_view name) {
  if (name.empty() || name.front() == '.') return false;
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-')) return false;
  return true;
}

std::string themeIconPath(const std::string& dataFolder, std::string_view name, int size) {
  std::string pixels = std::to_string(size);
  return themeFolder(dataFolder) + "/" + pixels + "x" + pixels + "/apps/" + std::string(name) + ".png";
}

bool installThemeIcon(const std::string& dataFolder, std::string_view name, const std::vector<IconImage>& images) {
  if (dataFolder.empty() || !isThemeIconName(name) || images.empty()) return false;
  const std::string theme = themeFolder(dataFolder);
  bool written = true;
  for (const IconImage& image : images) {
    std::string size = std::to_string(image.size);
    std::string folder = theme + "/" + size + "x" + size + "/apps";
    std::error_code ec;
    fs::create_directories(folder, ec);
    written = replaceFileAtomically(folder + "/" + std::string(name) + ".png", image.png, 0644) && written;
  }
  refreshIconCache(theme);
  return written;
}

void removeThemeIcon(const std::string& dataFolder, std::string_view name) {
  if (dataFolder.empty() || !isThemeIconName(name)) return;
  const fs::path theme = themeFolder(dataFolder);
  std::error_code ec;
  if (!fs::is_directory(theme, ec)) return;
  for (const auto& sizeFolder : fs::directory_iterator(theme, ec)) {
    fs::path apps = sizeFolder.path() / "apps";
    fs::remove(apps / (std::string(name) + ".png"), ec);
    // Only what is left empty goes: other programs' icons share the theme.
    fs::remove(apps, ec);
    fs::remove(sizeFolder.path(), ec);
  }
  if (hasIcons(theme)) {
    refreshIconCache(theme);
    return;
  }
  // A theme folder that holds no icon any more holds only the cache made
  // for ours: it goes, and so do the folders above it when nothing else is
  // there.
  fs::remove(theme / "icon-theme.cache", ec);
  fs::remove(theme, ec);
  fs::remove(theme.parent_path(), ec);
}

}  // namespace lumo
