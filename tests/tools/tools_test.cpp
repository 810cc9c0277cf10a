// lumo-pack, lumo-skin and lumo-reg as a builder meets them: help and
// version on stdout, a wrong command line or a file that is not what it
// should be refused with a reason, and nothing written on the way; the
// default theme draws the built-in skin; docs/verbs.md is what lumo-pack
// generates.
#include <gtest/gtest.h>

#include <filesystem>

#include "commands/verb_docs.h"
#include "platform/text.h"
#include "script/handler_registry.h"
#include "support/test_support.h"

namespace lumo::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> filesBelow(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) files.push_back(entry.path().string());
  return files;
}

TEST(Tools, CommandLinesAndRefusals) {
  TempDir dir;
  const std::string work = dir / "work";  // every run's working folder: nothing may appear there
  fs::create_directories(work);
  fs::create_directories(dir / "folder");
  writeFile(dir / "text", "not an installer\n");
  writeFile(dir / "script.ini", "[var]\r\nproduct_name=x\r\n[install]\r\n#NotifyOK\r\n");
  fs::create_directories(dir / "noSevenZip");
  const std::string pack = buildPath("lumo-pack");
  const std::string skin = buildPath("lumo-skin");
  const std::string reg = buildPath("lumo-reg");
  const std::string out = dir / "out";
  ASSERT_EQ(runProgram({pack, "init", dir / "product"}).exitCode, 0);
  writeFile(dir / "product/payload/product", "");
  const struct {
    std::vector<std::string> argv;
    int status;
    std::string stdoutHas, stderrHas;
    std::map<std::string, std::string> env = {};
  } cases[] = {
      {{pack, "--help"}, 0, "usage: lumo-pack", ""},
      {{pack, "-h"}, 0, "lumo-pack build DIR -o OUT", ""},
      {{pack, "--version"}, 0, "lumo-pack 1.", ""},
      {{pack, "--bogus"}, 2, "", "usage: lumo-pack"},
      {{pack, "init"}, 2, "", "usage: lumo-pack"},
      {{pack, "verbs"}, 2, "", "usage: lumo-pack"},
      {{pack, "--list", dir / "folder"}, 1, "", "is a folder, not an installer"},
      {{pack, "--list", dir / "text"}, 1, "", "is not an installer: it carries no resources"},
      {{pack, "--verify", dir / "text"}, 1, "", "is not an installer"},
      {{pack, "lint", dir / "folder"}, 1, "a folder, not a script file", ""},
      {{pack, "lint", dir / "text"}, 1, "not an installation script", ""},
      {{pack, dir / "text", "-o", out}, 1, "", "is not a program or an installer"},
      {{pack, dir / "folder", "-o", out}, 1, "", "is a folder"},
      {{pack, buildPath("lumo-installer-program"), "-o", out, "--set", "INI:801=" + (dir / "script.ini")}, 1, "",
       "never reads INI 801; it reads INI 800 (the script), DATA 900 (the payload), PNG 1020-1057"},
      {{pack, buildPath("lumo-installer-program"), "-o", out, "--set", "PNG:1019=" + (dir / "text")}, 1, "",
       "never reads PNG 1019"},
      {{pack, buildPath("lumo-installer-program"), "-o", out, "--set", "INI:800=" + (dir / "script.ini")}, 1, "",
       "without images or icon (missing: PNG 1020, 1021"},
      {{pack, "build", dir / "folder", "-o", out}, 1, "", "install.ini is missing"},
      {{pack, "build", dir / "product", "-o", out}, 1, "", "7zz is not installed", {{"PATH", dir / "noSevenZip"}}},
      {{pack, "init", dir / "product"}, 1, "", "is not an empty folder"},
      {{skin, "--help"}, 0, "lumo-skin --theme FILE OUTDIR", ""},
      {{skin, "-h"}, 0, "accent", ""},
      {{skin, "--version"}, 0, "lumo-skin 1.", ""},
      {{skin, "--bogus"}, 2, "", "unexpected argument \"--bogus\""},
      {{skin}, 2, "", "usage: lumo-skin"},
      {{skin, "--theme", dir / "text", out}, 1, "", "not a KEY=VALUE line"},
      {{skin, "--theme", dir / "missing.ini", out}, 1, "", "missing.ini"},
      {{reg, "--help"}, 0, "usage: lumo-reg", ""},
      {{reg, "--version"}, 0, "lumo-reg 1.", ""},
      {{reg, "--bogus", "query", "HKCU\\x"}, 2, "", "unknown option \"--bogus\""},
  };
  for (const auto& c : cases) {
    const std::string line = c.argv.size() > 1 ? c.argv[1] + (c.argv.size() > 2 ? " " + c.argv[2] : "") : c.argv[0];
    std::map<std::string, std::string> env = c.env;
    env.emplace("XDG_CONFIG_HOME", dir / "config");
    ProcessResult result = runProgram(c.argv, env, work);
    EXPECT_EQ(result.exitCode, c.status) << line << "\n" << result.err;
    EXPECT_NE(result.out.find(c.stdoutHas), std::string::npos) << line << "\n" << result.out;
    EXPECT_NE(result.err.find(c.stderrHas), std::string::npos) << line << "\n" << result.err;
    EXPECT_TRUE(filesBelow(work).empty()) << line;
    EXPECT_FALSE(pathExists(out)) << line;
    EXPECT_FALSE(pathExists(dir / "config")) << line;
  }
}

// The default theme in resources/ draws the images the build drew with the
// built-in look, byte for byte; a theme that changes the accent changes the
// images that show it and no other.
TEST(Tools, TheDefaultThemeDrawsTheBuiltInSkinAndAThemeChangesOnlyWhatItNames) {
  TempDir dir;
  const std::string builtIn = buildPath("skin");
  ProcessResult drawn =
      runProgram({buildPath("lumo-skin"), "--theme", std::string(LUMO_SOURCE_DIR) + "/resources/theme.ini", dir / "default"});
  ASSERT_EQ(drawn.exitCode, 0) << drawn.err;
  std::size_t compared = 0;
  for (const auto& entry : fs::directory_iterator(builtIn)) {
    EXPECT_EQ(readFile(dir / ("default/" + entry.path().filename().string())), readFile(entry.path().string()))
        << entry.path().filename();
    ++compared;
  }
  EXPECT_EQ(compared, 65u);  // 32 images at 1x and 2x, and the icon

  writeFile(dir / "accent.ini", "[theme]\naccent = #2E8B57\n");
  ASSERT_EQ(runProgram({buildPath("lumo-skin"), "--theme", dir / "accent.ini", dir / "accent"}).exitCode, 0);
  for (std::string image : {"1027.png", "1037.png", "1043.png", "1023.png", "icon.ico"})
    EXPECT_NE(readFile(dir / ("accent/" + image)), readFile(builtIn + "/" + image)) << image;
  for (std::string image : {"1020.png", "1021.png", "1028.png", "1034.png"})
    EXPECT_EQ(readFile(dir / ("accent/" + image)), readFile(builtIn + "/" + image)) << image;
}

TEST(Tools, TheCheckedInPageOfVerbsIsWhatLumoPackGenerates) {
  for (const Command& command : registeredCommands())
    EXPECT_NE(commands::findVerbDoc(command.verb), nullptr) << command.verb << " has no text in commands/verb_docs.cpp";
  ProcessResult generated = runProgram({buildPath("lumo-pack"), "verbs", "--markdown"});
  ASSERT_EQ(generated.exitCode, 0) << generated.err;
  EXPECT_TRUE(generated.out == readFile(std::string(LUMO_SOURCE_DIR) + "/docs/verbs.md"))
      << "docs/verbs.md is stale: build/lumo-pack verbs --markdown > docs/verbs.md";
}

// The engine reads a script as GBK: one saved as UTF-8 would show garbled
// names and paths, and unusable identity keys would be ignored at run time.
TEST(Tools, LintNamesAUtf8ScriptAndUnusableIdentityKeys) {
  TempDir dir;
  const std::string gbk = readFile(std::string(LUMO_SOURCE_DIR) + "/resources/install.ini");
  const struct {
    std::string what, bytes, finding;
  } cases[] = {
      {"utf8", gbkToUtf8(gbk), "install.ini:1: error: the file is UTF-8 text, but scripts are GBK"},
      {"folder", replaceAll(gbk, "silence=0\r\n", "silence=0\r\nproduct_folder=../x\r\n"),
       "error: product_folder \"../x\" cannot be used"},
      {"program", replaceAll(gbk, "silence=0\r\n", "silence=0\r\nmain_program=bin/app\r\n"),
       "error: main_program \"bin/app\" cannot be used"},
  };
  for (const auto& c : cases) {
    fs::create_directories(dir / c.what);
    const std::string script = dir / (c.what + "/install.ini");
    writeFile(script, c.bytes);
    ProcessResult linted = runProgram({buildPath("lumo-pack"), "lint", script});
    EXPECT_EQ(linted.exitCode, 1) << c.what;
    EXPECT_NE(linted.out.find(c.finding), std::string::npos) << c.what << "\n" << linted.out;
  }
  EXPECT_EQ(runProgram({buildPath("lumo-pack"), "lint", std::string(LUMO_SOURCE_DIR) + "/resources/install.ini"}).exitCode, 0);
}

}  // namespace
}  // namespace lumo::test
