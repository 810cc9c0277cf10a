#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "platform/desktop_entry.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::commandError;
using test::pathExists;
using test::readFile;
using test::TempDir;
using test::writeFile;

// The value of `key` in the file's text, or "(none)".
std::string valueOf(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
  return "(none)";
}

// desktop-file-validate's verdict: empty when the file is valid.
std::string validate(const std::string& path) {
  test::ProcessResult result = test::runProgram({LUMO_DESKTOP_FILE_VALIDATE, path});
  return result.exitCode == 0 ? "" : result.out + result.err;
}

void makeProgram(const std::string& path) {
  writeFile(path, "#!/bin/sh\n");
  ::chmod(path.c_str(), 0755);
}

TEST(CreateShortCut, WritesValidEntriesForEveryKindOfTarget) {
  TempDir dir;
  const std::string base = dir.path();
  // The temporary folder's own name holds a "-"; a target that names no
  // file is cut there.
  const std::size_t dash = base.find('-');
  ASSERT_NE(dash, std::string::npos);
  makeProgram(dir / "bin/LumoInstaller");
  makeProgram(dir / "my-app/LumoClient");
  makeProgram(dir / "my-app/LumoInstaller");
  makeProgram(dir / "Vexta 影音/LumoClient");
  writeFile(dir / "docs/read me.txt", "text");
  std::filesystem::create_directory(dir / "Desktop");
  struct Case {
    const char* name;
    std::string target;
    std::string type;
    std::string execOrUrl;
  } cases[] = {
      {"uninstall link", base + "/bin/LumoInstaller -uinst", "Application", base + "/bin/LumoInstaller -uinst"},
      {"script separators", base + "\\bin\\LumoInstaller -uinst", "Application", base + "/bin/LumoInstaller -uinst"},
      {"existing path with a dash is whole", base + "/my-app/LumoClient", "Application", base + "/my-app/LumoClient"},
      {"dash in the folder and arguments", base + "/my-app/LumoInstaller -uinst", "Application",
       base + "/my-app/LumoInstaller -uinst"},
      {"unknown path cut at its first dash", base + "/no-such/prog", "Application",
       base.substr(0, dash) + " " + base.substr(dash) + "/no-such/prog"},
      {"a lone dash is no argument", base + "/bin/LumoInstaller -", "Application", base + "/bin/LumoInstaller"},
      {"blanks are quoted", base + "/Vexta 影音/LumoClient", "Application", "\"" + base + "/Vexta 影音/LumoClient\""},
      {"quoted arguments", base + "/bin/LumoInstaller -open \"a b\" -x", "Application",
       base + "/bin/LumoInstaller -open \"a b\" -x"},
      {"percent signs doubled", base + "/bin/LumoInstaller -p=50%", "Application",
       base + "/bin/LumoInstaller -p=50%%"},
      {"web address", "http://www.example.com/", "Link", "http://www.example.com/"},
      {"web address with a dash is whole", "https://my-site.example.com/a-b", "Link",
       "https://my-site.example.com/a-b"},
      {"a document opens with its program", base + "/docs/read me.txt", "Link",
       "file://" + base + "/docs/read%20me.txt"},
  };
  for (const Case& c : cases) {
    const std::string link = dir / "Desktop/Vexta影音.desktop";
    callCommand(currentCommandContext(), "CreateShortCut", link + "|" + c.target + "|" + base + "/icon.png|Vexta影音播放器");
    std::string text = readFile(link);
    EXPECT_EQ(validate(link), "") << c.name << "\n" << text;
    EXPECT_EQ(valueOf(text, "Type"), c.type) << c.name;
    EXPECT_EQ(valueOf(text, c.type == "Link" ? "URL" : "Exec"), c.execOrUrl) << c.name;
    EXPECT_EQ(valueOf(text, "Name"), "Vexta影音") << c.name;
    EXPECT_EQ(valueOf(text, "Comment"), "Vexta影音播放器") << c.name;
    EXPECT_EQ(valueOf(text, "Icon"), base + "/icon.png") << c.name;
  }
}

TEST(CreateShortCut, ALnkNameBecomesADesktopFileThatIsTrustedAndReplaced) {
  TempDir dir;
  makeProgram(dir / "LumoClient");
  writeFile(dir / "Desktop/Vexta.desktop", "old");
  callCommand(currentCommandContext(), "CreateShortCut", dir.path() + "\\Desktop\\Vexta.LNK|" + (dir / "LumoClient") + "||");
  const std::string link = dir / "Desktop/Vexta.desktop";
  EXPECT_FALSE(pathExists(dir / "Desktop/Vexta.LNK"));
  EXPECT_EQ(valueOf(readFile(link), "Exec"), dir / "LumoClient");
  EXPECT_EQ(valueOf(readFile(link), "Comment"), "(none)");
  EXPECT_EQ(validate(link), "");
  struct stat info{};
  ASSERT_EQ(::stat(link.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0755u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "Desktop"), {}), 1);
}

TEST(CreateShortCut, RefusesMalformedLinesAndMissingTargets) {
  TempDir dir;
  EXPECT_EQ(commandError("CreateShortCut", "a.lnk|b|c"), "[CreateShortCut] Invalid arguments (nArg!=4): a.lnk|b|c");
  // The target must hold no "-", which the temporary folder's name has.
  const std::string missing = dir / "Desktop/x.lnk|nothing\\here.exe|icon|text";
  EXPECT_EQ(commandError("CreateShortCut", missing), "[CreateShortCut] Source file or link not found: " + missing);
  EXPECT_FALSE(pathExists(dir / "Desktop"));
}

TEST(CreateShortCut, AMissingFolderIsNoErrorAndLeavesNothing) {
  TempDir dir;
  EXPECT_EQ(commandError("CreateShortCut", (dir / "none/x.lnk") + "|http://example.com/|icon|text"), "(no error)");
  EXPECT_FALSE(pathExists(dir / "none"));
}

TEST(DesktopEntry, ExecQuotesAndEscapesAsTheDesktopEntryRulesSay) {
  struct Case {
    std::vector<std::string> arguments;
    std::string exec;
  } cases[] = {
      {{"-uinst"}, "/p -uinst"},
      {{"a b"}, "/p \"a b\""},
      {{""}, "/p \"\""},
      {{"$HOME"}, "/p \"\\\\$HOME\""},           // "\$" in the line, "\\$" in the file
      {{"C:\\dir"}, "/p \"C:\\\\\\\\dir\""},     // a backslash is written as four
      {{"say \"hi\""}, "/p \"say \\\\\"hi\\\\\"\""},
      {{"50%"}, "/p 50%%"},
      {{"it's"}, "/p \"it's\""},
  };
  for (const Case& c : cases) EXPECT_EQ(desktopExecValue("/p", c.arguments), c.exec) << c.arguments[0];
}

TEST(DesktopDatabase, IsRebuiltOnlyForAnExistingApplicationsFolder) {
  TempDir dir;
  const std::string applications = dir / "applications";
  std::filesystem::create_directories(applications);
  DesktopEntry player;
  player.name = "Player";
  player.program = "/bin/true";
  writeDesktopEntry(applications + "/player.desktop", player);
  refreshDesktopDatabase(applications);
  EXPECT_TRUE(pathExists(applications + "/mimeinfo.cache"));
  refreshDesktopDatabase(dir / "missing");
  EXPECT_FALSE(pathExists(dir / "missing"));
}

}  // namespace
}  // namespace lumo
