#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/text.h"
#include "script/dispatcher.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::commandError;
using test::runCommand;
using test::pathExists;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::size_t filesIn(const std::string& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

class IniXmlCommands : public ::testing::Test {
 protected:
  void SetUp() override { test::useWorkingScript(dir / "lumo_install.ini", "[var]\nresult=old\n"); }
  TempDir dir;
};

TEST_F(IniXmlCommands, ReadIniCopiesTheValueOrEmptiesTheVariable) {
  const std::string longValue(300, 'x');
  std::string longWide;
  for (int i = 0; i < 300; ++i) longWide += "影";
  writeFile(dir / "conf.ini", "[Main]\r\nVersion = 1.4.136\r\nempty=\r\nlong=" + longValue + "\r\nwide=" + longWide +
                                  "\r\n[ ]\r\nblank=in the blank section\r\n");
  struct Case {
    const char* fields;
    std::string expected;
  } cases[] = {
      {"|main|VERSION", "1.4.136"},                  // names match without regard to case
      {"|Main|empty", ""},                           // present but empty
      {"|Main|missing", ""},                         // missing key empties the variable
      {"|Other|Version", ""},                        // missing section too
      {"|Main|long", longValue.substr(0, 259)},      // cut to 259 characters
      {"| |blank", "in the blank section"},          // a section named by one blank
  };
  for (const Case& c : cases) {
    SetVariable("result", "old");
    runCommand("ReadIni", dir / "conf.ini" + c.fields + "->result");
    EXPECT_EQ(GetVariable("result"), c.expected) << c.fields;
  }
  runCommand("ReadIni", dir / "conf.ini" + "|Main|wide->result");
  EXPECT_EQ(utf16Length(GetVariable("result")), 259u);
  EXPECT_TRUE(longWide.starts_with(GetVariable("result")));
}

TEST_F(IniXmlCommands, ReadIniOnAMissingFileLeavesTheVariable) {
  runCommand("ReadIni", dir / "none.ini" + "|Main|Version->result");
  EXPECT_EQ(GetVariable("result"), "old");
  EXPECT_FALSE(pathExists(dir / "none.ini"));
}

TEST_F(IniXmlCommands, ReadIniAcceptsScriptPathsWithBackslashes) {
  writeFile(dir / "sub/conf.ini", "[Main]\r\nk=v\r\n");
  runCommand("ReadIni", dir.path() + "\\sub\\conf.ini|Main|k->result");
  EXPECT_EQ(GetVariable("result"), "v");
}

TEST_F(IniXmlCommands, MalformedLinesThrowTheirMessages) {
  struct Case {
    const char* verb;
    std::string arguments;
    std::string message;
  } cases[] = {
      {"ReadIni", "a.ini|s|k", "[ReadIni] Invalid arguments (Missing operator '->' ): a.ini|s|k"},
      // The count error of ReadIni quotes the variable name only.
      {"ReadIni", "a.ini|s->var", "[ReadIni] Invalid arguments (nArg!=3): var"},
      {"ReadIni", "a.ini|s|k|x-> var", "[ReadIni] Invalid arguments (nArg!=3):  var"},
      {"WriteIni", "a.ini|s|k", "[WriteIni] Invalid arguments (nArg!=4): a.ini|s|k"},
      {"WriteIni", "a.ini|s|k|v|w", "[WriteIni] Invalid arguments (nArg!=4): a.ini|s|k|v|w"},
      {"WriteXml", "a.xml|tag", "[WriteXml] Invalid arguments (nArg!=3): a.xml|tag"},
  };
  for (const Case& c : cases) EXPECT_EQ(commandError(c.verb, c.arguments), c.message);
}

TEST_F(IniXmlCommands, WriteIniCreatesAndUpdatesTheSectionOfOneBlank) {
  const std::string file = dir / "conf.ini";
  runCommand("WriteIni", file + "| |autostart|1");
  EXPECT_EQ(readFile(file), "[ ]\r\nautostart=1\r\n");
  runCommand("WriteIni", file + "| |autostart|0");
  runCommand("WriteIni", file + "|Main|path|/opt/Vexta 影音");
  EXPECT_EQ(readFile(file), "[ ]\r\nautostart=0\r\n[Main]\r\npath=/opt/Vexta 影音\r\n");
  runCommand("ReadIni", file + "|Main|path->result");
  EXPECT_EQ(GetVariable("result"), "/opt/Vexta 影音");
}

TEST_F(IniXmlCommands, WriteIniFailuresAreSilentAndLeaveFilesWhole) {
  runCommand("WriteIni", dir / "missing/conf.ini" + "|Main|k|v");
  EXPECT_FALSE(pathExists(dir / "missing"));

  const std::string readOnly = dir / "ro.ini";
  writeFile(readOnly, "[Main]\r\nk=1\r\n");
  ::chmod(readOnly.c_str(), 0444);
  runCommand("WriteIni", readOnly + "|Main|k|2");
  EXPECT_EQ(readFile(readOnly), "[Main]\r\nk=1\r\n");
  EXPECT_EQ(filesIn(dir.path()), 2u);  // the script and the read-only file, no leftovers
}

// The working script is GBK whoever writes or reads it, WriteIni and ReadIni
// on $INIPATH included; other INI files keep the encoding they have, and a
// new one is UTF-8. A Chinese value comes back unchanged from every reader.
TEST_F(IniXmlCommands, TheWorkingScriptIsAlwaysGbkAndOtherFilesKeepTheirEncoding) {
  const std::string script = dir / "lumo_install.ini";
  test::useWorkingScript(script, "[var]\nresult=old\n[t]\n#WriteIni $INIPATH|var|v|中文\n"
                                 "#IfThen (@v==中文)->#WriteIni $INIPATH|var|result|same\n");
  SectionList section;
  ReadSection("[t]", section);
  RunSection(section);
  EXPECT_EQ(GetVariable("result"), "same");

  const std::string value = "影音 中文";
  writeFile(dir / "utf8.ini", "[var]\r\nold=名字\r\n");
  writeFile(dir / "gbk.ini", utf8ToGbk("[var]\r\nold=名字\r\n"));
  struct Case {
    const char* what;
    std::string path;
    bool bySetVariable;
    bool storedAsGbk;
    const char* oldValue;  // what was there before, still read right
  };
  const Case cases[] = {
      {"SetVariable on the script", script, true, true, "same"},
      {"WriteIni on the script", script, false, true, "same"},
      {"WriteIni on a UTF-8 file", dir / "utf8.ini", false, false, "名字"},
      {"WriteIni on a GBK file", dir / "gbk.ini", false, true, "名字"},
      {"WriteIni on a new file", dir / "new.ini", false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.bySetVariable) {
      SetVariable("key", value);
    } else {
      runCommand("WriteIni", c.path + "|var|key|" + value);
    }
    EXPECT_NE(readFile(c.path).find("key=" + (c.storedAsGbk ? utf8ToGbk(value) : value)), std::string::npos);
    runCommand("ReadIni", c.path + "|var|key->copy");
    EXPECT_EQ(GetVariable("copy"), value);
    if (c.path == script) {
      EXPECT_EQ(GetVariable("key"), value);
    }
    runCommand("ReadIni", c.path + (c.path == script ? "|var|result->copy" : "|var|old->copy"));
    EXPECT_EQ(GetVariable("copy"), c.oldValue);
  }
}

TEST_F(IniXmlCommands, WriteXmlReplacesWholeLinesHoldingTheElement) {
  struct Case {
    const char* name;
    std::string before;
    std::string after;
  } cases[] = {
      {"indentation and the rest of the line go",
       "<config>\r\n    <version>1.0</version> <!-- old -->\r\n</config>\r\n",
       "<config>\r\n<version>2.0</version>\r\n</config>\r\n"},
      {"an opening tag with attributes is not the element",
       "<version kind=\"a\">1.0</version>\r\n", "<version kind=\"a\">1.0</version>\r\n"},
      {"closing tag before the opening tag still matches", "</version>x<version>\r\n",
       "<version>2.0</version>\r\n"},
      {"every matching line", "<version>1</version>\r\n<a/>\r\n<version>3</version>",
       "<version>2.0</version>\r\n<a/>\r\n<version>2.0</version>\r\n"},
      {"tags match with their letter case", "<Version>1.0</Version>\r\n", "<Version>1.0</Version>\r\n"},
      {"an element over two lines is not recognised", "<version>\r\n1.0</version>\r\n",
       "<version>\r\n1.0</version>\r\n"},
      {"line feeds become CR LF, the last line gains one", "a\n<version>1</version>\nb",
       "a\r\n<version>2.0</version>\r\nb\r\n"},
      {"blank lines are kept", "\r\n\r\n<version></version>\r\n\r\n", "\r\n\r\n<version>2.0</version>\r\n\r\n"},
      {"a byte-order mark is kept", "\xEF\xBB\xBF<version>1</version>\r\n", "\xEF\xBB\xBF<version>2.0</version>\r\n"},
      {"an empty file stays empty", "", ""},
  };
  for (const Case& c : cases) {
    const std::string file = dir / "config.xml";
    writeFile(file, c.before);
    runCommand("WriteXml", file + "|version|2.0");
    EXPECT_EQ(readFile(file), c.after) << c.name;
  }
}

TEST_F(IniXmlCommands, WriteXmlKeepsTheFileItsModeAndItsLinks) {
  const std::string file = dir / "real.xml";
  writeFile(file, "<name>a</name>");
  ::chmod(file.c_str(), 0640);
  std::filesystem::create_symlink(file, dir / "link.xml");
  runCommand("WriteXml", dir / "link.xml" + "|name|影音");
  EXPECT_EQ(readFile(file), "<name>影音</name>\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.xml"));
  struct stat info{};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(filesIn(dir.path()), 3u);  // script, file, link: no temporary file left
}

TEST_F(IniXmlCommands, WriteXmlLeavesMissingAndReadOnlyFilesAlone) {
  runCommand("WriteXml", dir / "none.xml" + "|version|2.0");
  EXPECT_FALSE(pathExists(dir / "none.xml"));
  const std::string readOnly = dir / "ro.xml";
  writeFile(readOnly, "<version>1.0</version>\n");
  ::chmod(readOnly.c_str(), 0444);
  runCommand("WriteXml", readOnly + "|version|2.0");
  EXPECT_EQ(readFile(readOnly), "<version>1.0</version>\n");
  runCommand("WriteXml", dir.path() + "|version|2.0");  // a folder
}

}  // namespace
}  // namespace lumo
