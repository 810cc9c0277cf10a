// A file association written to HKEY_CLASSES_ROOT reaches the desktop as a
// MIME type and a program that opens it, and leaves with the association.
#include <gtest/gtest.h>

#include <filesystem>

#include "registry/registry_fixture.h"
#include "script/run_environment.h"
#include "script/script_engine.h"

namespace lumo::test {
namespace {

class FileTypesTest : public RegistryTest {
 protected:
  void SetUp() override {
    saved_ = runEnvironment().smPrograms;
    runEnvironment().smPrograms = applications();
  }
  void TearDown() override { runEnvironment().smPrograms = saved_; }

  std::string data() const { return temp / "share"; }
  std::string applications() const { return data() + "/applications"; }
  std::string package() const { return data() + "/mime/packages/lumo-vexta.zmv.xml"; }
  std::string opener() const { return applications() + "/lumo-vexta.zmv.desktop"; }

 private:
  std::string saved_;
};

TEST_F(FileTypesTest, AnAssociationBecomesAMimeTypeWithAnOpenerAndLeavesWithIt) {
  std::filesystem::create_directories(applications());
  const char* lines[] = {
      "HKEY_CLASSES_ROOT|.zmv||Vexta.zmv",
      "HKEY_CLASSES_ROOT|Vexta.zmv||Vexta影音",
      "HKEY_CLASSES_ROOT|Vexta.zmv\\DefaultIcon||vexta",
  };
  for (const char* line : lines) callCommand(currentCommandContext(), "WriteReg", line);
  // No open command yet: nothing opens the type, so the desktop hears nothing.
  EXPECT_FALSE(pathExists(package()));
  callCommand(currentCommandContext(), "WriteReg", "HKEY_CLASSES_ROOT|Vexta.zmv\\shell\\open\\command||\"/opt/Vexta 影音/LumoClient.exe\" \"%1\"");

  std::string xml = readFile(package());
  EXPECT_NE(xml.find("<mime-type type=\"application/x-zmv\">"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<glob pattern=\"*.zmv\"/>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<comment>Vexta影音</comment>"), std::string::npos) << xml;
  std::string entry = readFile(opener());
  EXPECT_NE(entry.find("\nExec=\"/opt/Vexta 影音/LumoClient.exe\" %f\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nMimeType=application/x-zmv;\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nIcon=vexta\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nNoDisplay=true\n"), std::string::npos) << entry;
  ProcessResult check = runProgram({"/usr/bin/desktop-file-validate", opener()});
  EXPECT_EQ(check.exitCode, 0) << check.out;
  EXPECT_EQ(check.out, "");
  if (pathExists("/usr/bin/update-mime-database")) {
    EXPECT_NE(readFile(data() + "/mime/globs2").find("application/x-zmv:*.zmv"), std::string::npos);
  }
  if (pathExists("/usr/bin/update-desktop-database")) {
    EXPECT_NE(readFile(applications() + "/mimeinfo.cache").find("application/x-zmv=lumo-vexta.zmv.desktop"),
              std::string::npos);
  }

  // Removing the extension ends the association; other programs' files stay.
  writeFile(applications() + "/other.desktop", "kept");
  callCommand(currentCommandContext(), "DeleteReg", "HKEY_CLASSES_ROOT|.zmv");
  EXPECT_FALSE(pathExists(opener()));
  EXPECT_FALSE(pathExists(data() + "/mime"));
  EXPECT_EQ(readFile(applications() + "/other.desktop"), "kept");
}

}  // namespace
}  // namespace lumo::test
