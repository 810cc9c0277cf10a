// The product at home on the desktop: entries that say what they should,
// icons in the theme at every size.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "platform/desktop_entry.h"
#include "platform/icon_theme.h"
#include "script/run_environment.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::pathExists;
using test::readFile;
using test::TempDir;

std::string verdictOf(const std::string& path) {
  test::ProcessResult result = test::runProgram({LUMO_DESKTOP_FILE_VALIDATE, path});
  return result.exitCode == 0 && result.out.empty() ? "" : result.out + result.err;
}

std::string fieldOf(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
  return "(none)";
}

DesktopEntry entryOf(std::string name, std::string comment, std::string program, std::string url) {
  DesktopEntry entry;
  entry.name = std::move(name);
  entry.comment = std::move(comment);
  entry.icon = "vexta";
  entry.program = std::move(program);
  entry.url = std::move(url);
  return entry;
}

TEST(DesktopEntry, CommentCategoriesAndFileTypesAppearOnlyWhereTheyMeanSomething) {
  TempDir dir;
  DesktopEntry program = entryOf("Vexta影音", "Vexta影音", "/opt/Vexta/LumoClient.exe", "");
  program.categories = {"AudioVideo", "Video", "Player"};
  DesktopEntry opener = entryOf("Vexta影音", "", "/opt/Vexta/LumoClient.exe", "");
  opener.arguments = {"-open", "%1"};
  opener.fileArgument = 1;
  opener.mimeTypes = {"application/x-zmv"};
  opener.hidden = true;
  DesktopEntry link = entryOf("Vexta首页", "Vexta影音", "", "http://www.example.com/");
  link.categories = {"AudioVideo"};  // a link belongs to no menu category
  struct Case {
    const char* name;
    DesktopEntry entry;
    std::map<std::string, std::string> values;
  } cases[] = {
      {"comment repeating the name", program,
       {{"Comment", "(none)"}, {"Categories", "AudioVideo;Video;Player;"}, {"MimeType", "(none)"},
        {"Icon", "vexta"}}},
      {"opener of a file type", opener,
       {{"Exec", "/opt/Vexta/LumoClient.exe -open %f"}, {"MimeType", "application/x-zmv;"},
        {"NoDisplay", "true"}, {"Categories", "(none)"}}},
      {"web link", link, {{"Comment", "Vexta影音"}, {"Categories", "(none)"}, {"URL", "http://www.example.com/"}}},
  };
  for (const Case& c : cases) {
    const std::string path = dir / "entry.desktop";
    ASSERT_TRUE(writeDesktopEntry(path, c.entry));
    std::string text = readFile(path);
    EXPECT_EQ(verdictOf(path), "") << c.name << "\n" << text;
    for (const auto& [key, value] : c.values) EXPECT_EQ(fieldOf(text, key), value) << c.name << " " << key;
  }
}

TEST(CreateShortCut, ProgramLinksTakeTheScriptsCategoriesAndMayNameAThemeIcon) {
  TempDir dir;
  test::writeFile(dir / "LumoClient", "#!/bin/sh\n");
  std::filesystem::permissions(dir / "LumoClient", std::filesystem::perms::owner_all);
  const std::string savedScript = runEnvironment().iniPath;
  test::useWorkingScript(dir / "install.ini", "[var]\ndesktop_categories=AudioVideo;Video;Player;\n");
  struct Case {
    std::string target, icon, wantIcon, wantCategories;
  } cases[] = {
      {dir / "LumoClient", "vexta", "vexta", "AudioVideo;Video;Player;"},
      {dir / "LumoClient", dir.path() + "\\Vexta.png", dir / "Vexta.png", "AudioVideo;Video;Player;"},
      {"http://www.example.com/", "vexta", "vexta", "(none)"},
      {dir / "LumoClient", "", "(none)", "AudioVideo;Video;Player;"},
  };
  for (const Case& c : cases) {
    const std::string link = dir / "Vexta影音.desktop";
    callCommand(currentCommandContext(), "CreateShortCut", link + "|" + c.target + "|" + c.icon + "|Vexta影音");
    std::string text = readFile(link);
    EXPECT_EQ(verdictOf(link), "") << text;
    EXPECT_EQ(fieldOf(text, "Name"), "Vexta影音") << c.icon;
    EXPECT_EQ(fieldOf(text, "Comment"), "(none)") << c.icon;
    EXPECT_EQ(fieldOf(text, "Icon"), c.wantIcon) << c.icon;
    EXPECT_EQ(fieldOf(text, "Categories"), c.wantCategories) << c.target;
  }
  runEnvironment().iniPath = savedScript;
}

// The start of a PNG file: signature and the header chunk with its size.
std::string pngOfSize(std::uint32_t width, std::uint32_t height) {
  std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  for (std::uint32_t number : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>(number >> shift & 0xFF);
  return png + std::string(13, '\x08');
}

std::string icoOf(const std::vector<std::string>& images) {
  auto le = [](std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i) & 0xFF);
    return out;
  };
  std::string ico = le(0, 2) + le(1, 2) + le(static_cast<std::uint32_t>(images.size()), 2);
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  std::string data;
  for (const std::string& image : images) {
    // The directory's width and height bytes are left 0: sizes come from the images.
    ico += std::string(8, '\0') + le(static_cast<std::uint32_t>(image.size()), 4) + le(offset, 4);
    offset += static_cast<std::uint32_t>(image.size());
    data += image;
  }
  return ico + data;
}

TEST(ThemeIcon, AnIconFileGivesOneSquarePngPerSize) {
  const std::string bitmap = std::string("\x28\0\0\0", 4) + std::string(60, '\0');
  struct Case {
    const char* name;
    std::string ico;
    std::vector<int> sizes;
  } cases[] = {
      {"every size in file order", icoOf({pngOfSize(256, 256), pngOfSize(48, 48), pngOfSize(16, 16)}), {256, 48, 16}},
      {"a bitmap entry is left out", icoOf({bitmap, pngOfSize(32, 32)}), {32}},
      {"a non-square image is left out", icoOf({pngOfSize(32, 16), pngOfSize(96, 96)}), {96}},
      {"cut short", icoOf({pngOfSize(32, 32)}).substr(0, 30), {}},
      {"not an icon file", pngOfSize(32, 32), {}},
  };
  for (const Case& c : cases) {
    std::vector<int> sizes;
    for (const IconImage& image : iconImages(c.ico)) sizes.push_back(image.size);
    EXPECT_EQ(sizes, c.sizes) << c.name;
  }
}

TEST(ThemeIcon, IsInstalledAtEverySizeAndRemovedWithoutTouchingOtherIcons) {
  TempDir dir;
  const std::string data = dir / "share";
  const std::string theme = data + "/icons/hicolor";
  std::vector<IconImage> images = iconImages(icoOf({pngOfSize(256, 256), pngOfSize(16, 16)}));
  ASSERT_TRUE(installThemeIcon(data, "vexta", images));
  EXPECT_EQ(readFile(theme + "/256x256/apps/vexta.png"), images[0].png);
  EXPECT_EQ(readFile(theme + "/16x16/apps/vexta.png"), images[1].png);
  EXPECT_FALSE(installThemeIcon(data, "../escape", images));
  EXPECT_FALSE(pathExists(data + "/icons/escape.png"));

  test::writeFile(theme + "/16x16/apps/other.png", "other");
  removeThemeIcon(data, "vexta");
  EXPECT_FALSE(pathExists(theme + "/256x256"));
  EXPECT_FALSE(pathExists(theme + "/16x16/apps/vexta.png"));
  EXPECT_EQ(readFile(theme + "/16x16/apps/other.png"), "other");

  std::filesystem::remove(theme + "/16x16/apps/other.png");
  ASSERT_TRUE(installThemeIcon(data, "vexta", images));
  removeThemeIcon(data, "vexta");
  EXPECT_FALSE(pathExists(data + "/icons"));
}

}  // namespace
}  // namespace lumo
