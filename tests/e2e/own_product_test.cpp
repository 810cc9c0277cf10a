// A builder's path: lumo-pack init, the product's files copied in, lumo-pack
// build, and the installer of a product that is not the demo installs and
// uninstalls cleanly under its own name and folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "e2e/sandbox.h"
#include "platform/text.h"

namespace lumo::test {
namespace {

// Replaces a whole line of the product's GBK script.
void setScriptLine(const std::string& script, const std::string& from, const std::string& to) {
  std::string text = readFile(script);
  const std::size_t at = text.find("\r\n" + from + "\r\n");
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at + 2, from.size(), to);
  writeFile(script, text);
}

TEST(OwnProduct, InitACopyAndBuildGiveAnInstallerThatInstallsAndUninstallsCleanly) {
  Sandbox box;
  const std::string product = box.root() + "/work/AcmeNotes";
  ProcessResult init = runProgram({buildPath("lumo-pack"), "init", product});
  ASSERT_EQ(init.exitCode, 0) << init.err;

  // Five files; the main program leaves a mark when it is started.
  const std::string mark = box.root() + "/started";
  writeFile(product + "/payload/acme-notes", "#!/bin/sh\necho started > '" + mark + "'\n");
  ::chmod((product + "/payload/acme-notes").c_str(), 0755);
  writeFile(product + "/payload/README.txt", "Acme Notes\n");
  writeFile(product + "/payload/lib/libacme.so", std::string(4096, 'x'));
  writeFile(product + "/payload/data/notes.db", "notes");
  writeFile(product + "/payload/data/help.html", "<p>help</p>");
  const std::string script = product + "/install.ini";
  setScriptLine(script, "product_name=AcmeNotes", "product_name=Acme Notes");
  setScriptLine(script, "main_program=AcmeNotes", "main_program=acme-notes");
  setScriptLine(script, "autorun=", "autorun=1");  // a silent run still never starts it
  std::string theme = readFile(product + "/theme.ini");
  theme.replace(theme.find("product_name = AcmeNotes"), 24, "product_name = Acme Notes");
  writeFile(product + "/theme.ini", theme);

  const std::string setup = box.dist() + "/AcmeSetup";
  ProcessResult built = runProgram({buildPath("lumo-pack"), "build", product, "-o", setup});
  ASSERT_EQ(built.exitCode, 0) << built.err;
  EXPECT_NE(built.out.find(setup + ": installer of Acme Notes, "), std::string::npos) << built.out;
  EXPECT_EQ(runProgram({buildPath("lumo-pack"), "--verify", setup}).exitCode, 0);

  const auto before = box.snapshot();
  ProcessResult installed = box.run(setup, {"/s"});
  ASSERT_EQ(installed.exitCode, 0) << installed.err;
  const std::string folder = box.sys() + "/opt/AcmeNotes";
  EXPECT_EQ(readFile(folder + "/data/notes.db"), "notes");
  EXPECT_EQ(readFile(folder + "/lib/libacme.so").size(), 4096u);
  EXPECT_TRUE(pathExists(box.share() + "/applications/AcmeNotes/AcmeNotes.desktop"));
  EXPECT_EQ(box.regValue("HKEY_LOCAL_MACHINE\\Software\\AcmeNotes", "HDir"), folder);
  const std::string uninstaller = box.appData() + "/AcmeNotes/Installer/Setup";
  EXPECT_EQ(box.regValue("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\AcmeNotes",
                         "UninstallString"),
            uninstaller + " -uinst");
  EXPECT_FALSE(pathExists(mark)) << "a silent installation started the product";
  EXPECT_FALSE(pathExists(box.installDir())) << "nothing goes into the demo product's folder";

  ProcessResult removed = box.run(uninstaller, {"-uinst", "/s"});
  ASSERT_EQ(removed.exitCode, 0) << removed.err;
  EXPECT_EQ(removed.err.find("您未安装"), std::string::npos) << removed.err;
  EXPECT_FALSE(pathExists(folder));
  auto left = leftovers(before, box.snapshot(),
                        {"D sys/var/lib/LuMo/", "F sys/var/lib/LuMo/LumoClient/", "D sys/etc/xdg/AcmeNotes/",
                         "F sys/etc/xdg/AcmeNotes/Installer/"});
  EXPECT_TRUE(left.empty()) << ::testing::PrintToString(left);
}

}  // namespace
}  // namespace lumo::test
