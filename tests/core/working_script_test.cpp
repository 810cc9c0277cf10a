#include <gtest/gtest.h>

#include "script/run_environment.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::TempDir;
using test::useWorkingScript;

void recordingHandler(const std::string&) {}
const CommandRegistration registration{"TestVerb", recordingHandler};

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
