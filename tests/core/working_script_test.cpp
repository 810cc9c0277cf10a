#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/text.h"
#include "script/run_environment.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::TempDir;
using test::useWorkingScript;

void recordingHandler(const CommandContext&, const CommandArguments&) {}

std::vector<std::string> linesOf(const SectionList& list) {
  std::vector<std::string> lines;
  for (const auto& record : list) lines.push_back(record->verb + "|" + record->arguments);
  return lines;
}

TEST(WorkingScript, VariablesReadAndWriteThroughTheFile) {
  TempDir dir;
  useWorkingScript(dir / "install.ini", "[var]\nproduct_name=Vexta影音\n");
  EXPECT_EQ(GetVariable("product_name"), "Vexta影音");
  EXPECT_EQ(GetVariable("PRODUCT_NAME"), "Vexta影音");
  EXPECT_EQ(GetVariable("missing"), "");
  SetVariable("long", std::string(300, 'y'));
  EXPECT_EQ(GetVariable("long"), std::string(259, 'y'));
}

// Writes are grouped for the disk, never for readers: in a burst of writes
// every value is there for the next read at once, and the file is a whole
// script at every instant for a reader that takes no lock at all (another
// program, a Copy of $INIPATH).
TEST(WorkingScript, ABurstOfWritesKeepsEveryValueAndAWholeFileAtEveryInstant) {
  TempDir dir;
  const std::string path = dir / "lumo_install.ini";
  // Long enough that rewriting it in place would be caught half way.
  std::string script = "[var]\nproduct_name=Vexta影音\nautorun=\n[install]\n";
  for (int i = 0; i < 2000; ++i) script += ";#Notify @msg_extract|" + std::to_string(i) + "\n";
  useWorkingScript(path, script + "#Out $INSTALL\n");
  std::atomic<bool> done = false;
  std::atomic<int> reads = 0;
  std::string broken;
  std::thread reader([&] {
    while (!done) {
      std::ifstream file(path, std::ios::binary);
      std::stringstream bytes;
      bytes << file.rdbuf();
      std::string text = gbkToUtf8(bytes.str());
      if (!text.starts_with("[var]\r\nproduct_name=Vexta影音\r\n") || !text.ends_with("|1999\r\n#Out $INSTALL\r\n"))
        broken = text;
      ++reads;
    }
  });
  for (int i = 0; i < 300; ++i) {
    SetVariable("autorun", std::to_string(i));
    // Built by appending: GCC 12 at -O3 warns of an overlapping copy in "k" + text.
    std::string name = "k", value = "值";
    name += std::to_string(i % 40);
    value += std::to_string(i);
    SetVariable(name, value);
    ASSERT_EQ(GetVariable("autorun"), std::to_string(i));
  }
  done = true;
  reader.join();
  EXPECT_EQ(broken, "");
  EXPECT_GT(reads, 0);
  EXPECT_EQ(GetVariable("k19"), "值299");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1u);  // no temporary file left beside the script
}

TEST(WorkingScript, ResetRunVariablesOverridesWhatTheFileHeld) {
  TempDir dir;
  useWorkingScript(dir / "install.ini", "[var]\nautorun=0\nsoftcheck2=1\ninstalldir=/old\nkeep=me\n");
  ResetRunVariables();
  EXPECT_EQ(GetVariable("autorun"), "1");
  EXPECT_EQ(GetVariable("softcheck2"), "0");
  EXPECT_EQ(GetVariable("installdir"), "");
  EXPECT_EQ(GetVariable("keep"), "me");
}

TEST(WorkingScript, ReadSectionFollowsTheLineRules) {
  registerCommand("TestVerb", recordingHandler, {});
  TempDir dir;
  useWorkingScript(dir / "install.ini",
                   "[var]\n"
                   "; a comment that mentions [install] does not open it\n"
                   "[install] ; note\n"
                   "   #TestVerb a|b   \n"
                   "; #TestVerb commented\n"
                   "\n"
                   "#UnknownVerb x\n"
                   "#testverb wrong case\n"
                   "#TestVerb\ttab makes the whole line the verb\n"
                   "#TestVerb  two blanks\n"
                   "#TestVerb\n"
                   "TestVerb without hash ends the section\n"
                   "#TestVerb never read\n");
  SectionList list;
  ReadSection("[install]", list);
  EXPECT_EQ(linesOf(list), (std::vector<std::string>{"TestVerb|a|b", "TestVerb|two blanks", "TestVerb|"}));

  SectionList missing;
  ReadSection("[uninstall]", missing);
  EXPECT_TRUE(missing.empty());
}

TEST(WorkingScript, SplitArgumentsCountsEveryBar) {
  EXPECT_EQ(SplitArguments(""), std::vector<std::string>{""});
  EXPECT_EQ(SplitArguments("a"), std::vector<std::string>{"a"});
  EXPECT_EQ(SplitArguments("a||b"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(SplitArguments(" a |"), (std::vector<std::string>{" a ", ""}));
  EXPECT_THROW(splitFields("Notify", "x", 2), ScriptError);
  try {
    splitFields("Notify", "x", 2);
  } catch (const ScriptError& e) {
    EXPECT_STREQ(e.what(), "[Notify] Invalid arguments (nArg!=2): x");
  }
  try {
    splitOutput("ReadIni", "a|b");
  } catch (const ScriptError& e) {
    EXPECT_STREQ(e.what(), "[ReadIni] Invalid arguments (Missing operator '->' ): a|b");
  }
  auto out = splitOutput("Exists", "p->var ");
  EXPECT_EQ(out.input, "p");
  EXPECT_EQ(out.variable, "var ");
}

}  // namespace
}  // namespace lumo
