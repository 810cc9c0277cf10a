// The installed player on the desktop, machine-wide and for one user: its
// icon in the theme at every size, entries that validate, its file type,
// an uninstaller every administrator can start; and nothing of it after
// the uninstallation.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "e2e/sandbox.h"

namespace lumo::test {
namespace {

namespace fs = std::filesystem;

struct Scope {
  const char* name;
  bool machineWide;
};

struct Places {
  std::string share, appData, desktop;
  std::vector<std::string> allowedAfterUninstall;
};

Places placesOf(const Sandbox& box, bool machineWide) {
  if (machineWide)
    return {box.share(), box.appData(), box.sys() + "/etc/skel/Desktop",
            {"F sys/var/lib/LuMo/LumoClient/", "D sys/var/lib/LuMo/"}};
  return {box.home() + "/.local/share", box.home() + "/.config", box.home() + "/Desktop",
          {"F home/.local/share/LuMo/LumoClient/", "D home/.local/share/LuMo/"}};
}

std::string lineOf(const std::string& text, const std::string& key) {
  std::size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) return "(none)";
  std::size_t start = at + key.size() + 2;
  return text.substr(start, text.find('\n', start) - start);
}

// The width recorded in a PNG file's header.
unsigned pngWidth(const std::string& png) {
  if (png.size() < 24) return 0;
  unsigned width = 0;
  for (int i = 16; i < 20; ++i) width = width << 8 | static_cast<unsigned char>(png[i]);
  return width;
}

// Readable and, for folders and programs, enterable by everyone.
bool everyoneMayUse(const std::string& path) {
  struct stat info{};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IROTH) && (info.st_mode & S_IXOTH);
}

class Desktop : public ::testing::TestWithParam<Scope> {};

TEST_P(Desktop, TheInstallationIsAtHomeThereAndTheUninstallationTakesItAllAway) {
  const bool machineWide = GetParam().machineWide;
  if (machineWide && ::geteuid() != 0) GTEST_SKIP() << "machine-wide runs are root's";
  Sandbox box;
  const Places places = placesOf(box, machineWide);
  auto run = [&](const std::string& program, const std::vector<std::string>& args) {
    return machineWide ? box.run(program, args) : box.runAsUser(program, args);
  };
  // The script writes its desktop link only onto a desktop that is there.
  fs::create_directories(places.desktop);
  auto before = box.snapshot();
  ProcessResult install = run(box.installer(), {"/s"});
  ASSERT_EQ(install.exitCode, 0) << install.err;

  for (unsigned size : {16u, 32u, 48u, 96u, 128u, 256u}) {
    const std::string folder = std::to_string(size) + "x" + std::to_string(size);
    EXPECT_EQ(pngWidth(readFile(places.share + "/icons/hicolor/" + folder + "/apps/vexta.png")), size) << folder;
  }

  const std::string menu = places.share + "/applications/Vexta影音";
  const std::string uninstaller = places.appData + "/Lumo/Installer/LumoInstaller";
  const std::string video = "AudioVideo;Video;Player;";
  struct Entry {
    std::string path, categories, comment;
  } entries[] = {
      {menu + "/Vexta影音.desktop", video, "(none)"},
      {menu + "/卸载Vexta影音.desktop", video, "(none)"},
      {menu + "/Vexta首页.desktop", "(none)", "Vexta影音"},
      {places.desktop + "/Vexta影音.desktop", video, "(none)"},
      {places.appData + "/autostart/Vexta影音.desktop", video, "(none)"},
      {places.share + "/applications/lumo-vexta.zmv.desktop", "(none)", "(none)"},
  };
  for (const Entry& entry : entries) {
    std::string text = readFile(entry.path);
    ProcessResult check = runProgram({"/usr/bin/desktop-file-validate", entry.path});
    EXPECT_EQ(check.exitCode, 0) << entry.path;
    EXPECT_EQ(check.out, "") << entry.path;
    EXPECT_EQ(lineOf(text, "Icon"), "vexta") << entry.path;
    EXPECT_EQ(lineOf(text, "Categories"), entry.categories) << entry.path;
    EXPECT_EQ(lineOf(text, "Comment"), entry.comment) << entry.path;
  }
  EXPECT_EQ(lineOf(readFile(menu + "/卸载Vexta影音.desktop"), "Exec"), uninstaller + " -uinst");
  std::string opener = readFile(places.share + "/applications/lumo-vexta.zmv.desktop");
  EXPECT_EQ(lineOf(opener, "MimeType"), "application/x-zmv;");
  EXPECT_NE(readFile(places.share + "/mime/packages/lumo-vexta.zmv.xml").find("<glob pattern=\"*.zmv\"/>"),
            std::string::npos);
  EXPECT_NE(readFile(places.share + "/mime/globs2").find("application/x-zmv:*.zmv"), std::string::npos);
  EXPECT_NE(readFile(places.share + "/applications/mimeinfo.cache").find("application/x-zmv=lumo-vexta.zmv.desktop"),
            std::string::npos);

  if (machineWide) {
    for (fs::path path = uninstaller; path != fs::path(box.sys()); path = path.parent_path())
      EXPECT_TRUE(everyoneMayUse(path)) << path;
  }

  ProcessResult uninstall = run(uninstaller, {"-uinst", "/s"});
  ASSERT_EQ(uninstall.exitCode, 0) << uninstall.err;
  auto left = leftovers(before, box.snapshot(), places.allowedAfterUninstall);
  EXPECT_TRUE(left.empty()) << ::testing::PrintToString(left);
}

INSTANTIATE_TEST_SUITE_P(Scopes, Desktop, ::testing::Values(Scope{"machineWide", true}, Scope{"perUser", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumo::test
