#include <gtest/gtest.h>

#include <functional>

#include "commands/download_check.h"
#include "commands/statistics.h"
#include "engine_test_support.h"
#include "platform/text.h"
#include "script/dispatcher.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

using test::RecordingHost;
using test::ScopedRun;
using test::TempDir;

constexpr const char* kVars =
    "[var]\n"
    "msg=值\n"
    "autorun=1\n"
    "cachepath=\n"
    "self=@self\n"
    "spaced=1\n";

SectionList section(std::string_view header) {
  SectionList list;
  ReadSection(header, list);
  return list;
}

TEST(Dispatch, TheLogHoldsBannersAndExecutedLinesInGbkWithTextModeLineEnds) {
  TempDir dir;
  ScopedRun run(dir, true, std::string(kVars) + "[install]\n#Record 安装 @msg|$INSTALL\n#NotifyOK\n");
  setInstallFolder("/opt/Vexta");
  RecordingHost host;
  LogSectionBanner(kExecInstall);
  SectionList list = section("[install]");
  RunSection(list);
  EXPECT_TRUE(list.empty());
  closeExecutionLog();
  EXPECT_EQ(test::readFile(run.logPath()),
            utf8ToGbk("\r\r\nLumoShellParser::ExecInstall  -----------------------------\r\r\n"
                      "Record 安装 值|/opt/Vexta\r\r\n"
                      "NotifyOK \r\r\n"));
  EXPECT_EQ(sectionBanner(kExecUnInstallInit),
            "\r\nLumoShellParser::ExecUnInstallInit  -----------------------------\r\n");
}

TEST(Dispatch, InstallModeEndsTheSectionAtTheFirstFailure) {
  const struct {
    std::string line;
    std::string executed;  // the log line of the failing line, if it is executed
    std::string message;   // the error that ends the section; empty: none is reported
  } cases[] = {
      {"#Fail boom", "Fail boom", "[Fail] boom"},
      {"#Record $NOPE", "Record $NOPE", "Invalid command or argument: $NOPE"},
      {"#Record @self", "Record @self", "Invalid command or argument: @self"},
      {"#IfThen (1==1)-> #Record x", "", "[IfThen] Arguments must be command:  #Record x"},
      {"#IfThen (1=1)->#Record x", "", "[IfThen] Invalid arguments (Missing operator '==' ): 1=1"},
      {"#IfThen (1==1)#Record x", "", "[IfThen] Invalid arguments (Missing operator '->' ): (1==1)#Record x"},
      {"#Crash", "Crash ", ""},
  };
  for (const auto& c : cases) {
    TempDir dir;
    ScopedRun run(dir, true, std::string(kVars) + "[install]\n#Record one\n" + c.line + "\n#Record never\n");
    RecordingHost host;
    SectionList list = section("[install]");
    SectionThreadProc(list);
    closeExecutionLog();
    EXPECT_EQ(test::recordedLines(), std::vector<std::string>{"one"}) << c.line;
    std::string log = "Record one\r\r\n";
    if (!c.executed.empty()) log += c.executed + "\r\r\n";
    if (!c.message.empty()) log += c.message + "\r\r\n";
    EXPECT_EQ(test::logText(run.logPath()), log) << c.line;
    std::vector<std::string> expected;
    if (!c.message.empty()) expected = {"ask script.command-failed: 执行安装命令时出错：\n" + c.message, "installFailed"};
    EXPECT_EQ(host.events(), expected) << c.line;
  }
}

TEST(Dispatch, UninstallModeSkipsBadLinesAndGoesOn) {
  TempDir dir;
  ScopedRun run(dir, false,
                std::string(kVars) +
                    "[uninstall]\n#Record first\n#Record $NOPE\n#Fail dropped\n#Record @self\n#Record @undefined\n"
                    "#Record last\n#Crash\n#Record never\n");
  RecordingHost host;
  SectionList list = section("[uninstall]");
  SectionThreadProc(list);
  closeExecutionLog();
  EXPECT_EQ(test::recordedLines(), (std::vector<std::string>{"first", "", "last"}));
  EXPECT_EQ(test::logText(run.logPath()),
            "Record first\r\r\n"
            "Record $NOPE\r\r\nInvalid command or argument:  $NOPE\r\r\n"
            "Fail dropped\r\r\n[Fail] dropped (uninstalling goes on)\r\r\n"
            "Record @self\r\r\nInvalid command or argument:  @self\r\r\n"
            "Record \r\r\n"
            "Record last\r\r\n"
            "Crash \r\r\n");
  EXPECT_TRUE(host.events().empty());
}

TEST(Dispatch, AnIfThenErrorEndsAnUninstallSectionWithALogLine) {
  TempDir dir;
  ScopedRun run(dir, false, std::string(kVars) + "[uninstall]\n#IfThen (1==1)->Record x\n#Record never\n");
  RecordingHost host;
  SectionList list = section("[uninstall]");
  SectionThreadProc(list);
  closeExecutionLog();
  EXPECT_TRUE(test::recordedLines().empty());
  EXPECT_EQ(test::logText(run.logPath()), "[IfThen] Arguments must be command: Record x (the section ends here)\r\r\n");
  EXPECT_TRUE(host.events().empty());
}

TEST(Dispatch, CopyMayReceiveLeftoverMarks) {
  TempDir dir;
  ScopedRun run(dir, true, kVars);
  CommandRecord copy{findHandler("Record"), "$NOPE|#x", "Copy"};
  Execute(copy);
  EXPECT_EQ(test::recordedLines(), std::vector<std::string>{"$NOPE|#x"});
  // The bound on expansion holds for Copy too.
  CommandRecord selfCopy{findHandler("Record"), "@self", "Copy"};
  EXPECT_THROW(Execute(selfCopy), ScriptError);
}

TEST(Dispatch, IfThenComparesTheConditionAsWritten) {
  TempDir dir;
  ScopedRun run(dir, true, kVars);
  const struct {
    std::string arguments;
    bool holds;
  } cases[] = {
      {"(@autorun==1)->#Run $INSTALL\\LumoClient.exe||0|show", true},
      {"(@autorun!=1)->#X", false},
      {"(@cachepath!=\"\")->#X", false},  // a pair of quotes is the empty text
      {"(@cachepath==\"\")->#X", true},
      {"(@spaced == 1)->#X", false},        // LEFT and RIGHT keep their blanks
      {"(1==1)->#X", true},
      {"($INSTALL==$INSTALL)->#X", true},   // never expanded
      {"(@msg==值)->#X", true},
      {"(autorun==1)->#X", false},          // without "@" LEFT is itself
      {"((@autorun)==(1))->#X", true},      // every parenthesis goes
  };
  for (const auto& c : cases) {
    CommandRecord record{findHandler("IfThen"), c.arguments, "IfThen"};
    EXPECT_EQ(IfThen(record), c.holds) << c.arguments;
    EXPECT_EQ(record.arguments, c.arguments.substr(c.arguments.find("->") + 2)) << c.arguments;
  }
}

TEST(Dispatch, IfThenRunsItsTargetOnlyWhenTheConditionHolds) {
  TempDir dir;
  ScopedRun run(dir, true,
                std::string(kVars) +
                    "[install]\n#IfThen (@autorun==1)->#Record ran @msg\n#IfThen (@autorun==0)->#Record skipped\n"
                    "#IfThen (1==1)->#Unknown x\n#Record after\n");
  SectionList list = section("[install]");
  RunSection(list);
  closeExecutionLog();
  EXPECT_EQ(test::recordedLines(), (std::vector<std::string>{"ran 值", "after"}));
  EXPECT_EQ(test::logText(run.logPath()), "Record ran 值\r\r\nRecord after\r\r\n");
}

TEST(Dispatch, RunCommandLineLogsScriptErrorsAndSwallowsTheRest) {
  for (bool installMode : {true, false}) {
    TempDir dir;
    ScopedRun run(dir, installMode, kVars);
    RecordingHost host;
    RunCommandLine("Fail report");
    RunCommandLine("Unknown verb");
    RunCommandLine("Crash");
    RunCommandLine("IfThen (1==1)->Record x");
    RunCommandLine("Record @msg");
    closeExecutionLog();
    std::string expected = installMode ? "Fail report\r\r\n[Fail] report\r\r\nCrash \r\r\nIfThen (1==1)->Record x\r\r\n"
                                         "[IfThen] Nested or single conditions are not supported: (1==1)->Record x\r\r\n"
                                       : "Fail report\r\r\n[Fail] report (uninstalling goes on)\r\r\nCrash \r\r\n"
                                         "IfThen (1==1)->Record x\r\r\n[IfThen] Nested or single conditions are not "
                                         "supported: (1==1)->Record x (uninstalling goes on)\r\r\n";
    EXPECT_EQ(test::logText(run.logPath()), expected + "Record 值\r\r\n") << installMode;
    EXPECT_EQ(test::recordedLines(), std::vector<std::string>{"值"});
    EXPECT_TRUE(host.events().empty());
  }
}

}  // namespace
}  // namespace lumo

namespace lumo {
namespace {

// What the dispatcher hands a handler: one case per rule of a verb's
// argument table, and the wording of each refusal.
TEST(Arguments, AreReadOnceByTheVerbsRules) {
  struct Case {
    const char* name;
    ArgumentRules rules;
    std::string text;
    std::string value;
    std::vector<std::string> fields;
    std::optional<std::string> output;
    std::optional<std::string> extension;
    std::string error;
  };
  const Case cases[] = {
      {"one value keeps every bar", {}, "a|b->c", "a|b->c", {}, {}, {}, ""},
      {"fields", {.fields = 2}, "a| b", "a| b", {"a", " b"}, {}, {}, ""},
      {"field count", {.fields = 2}, "a|b|c", "", {}, {}, {}, "[Verb] Invalid arguments (nArg!=2): a|b|c"},
      {"required output", {.fields = 1, .output = Output::Required}, "p->v ", "p", {"p"}, "v ", {}, ""},
      {"missing output", {.output = Output::Required}, "p", "", {}, {}, {},
       "[Verb] Invalid arguments (Missing operator '->' ): p"},
      {"a required output names its variable", {.fields = 2, .output = Output::Required}, "a->v", "", {}, {}, {},
       "[Verb] Invalid arguments (nArg!=2): v"},
      {"without the blank", {.fields = 2, .output = Output::Required, .countErrorWithoutBlank = true}, "a->v", "",
       {}, {}, {}, "[Verb] Invalid arguments (nArg!=2):v"},
      {"optional output absent", {.fields = 1, .output = Output::Optional}, "p", "p", {"p"}, {}, {}, ""},
      {"an optional output's count error names the fields", {.fields = 2, .output = Output::Optional}, "a->v", "",
       {}, {}, {}, "[Verb] Invalid arguments (nArg!=2): a"},
      {"extension", {.fields = 2, .extension = '+'}, "a|b+x=1|y", "a|b", {"a", "b"}, {}, "x=1|y", ""},
      {"fields counted before the extension", {.fields = 2, .extension = '+'}, "a+b|c", "", {}, {}, {},
       "[Verb] Invalid arguments (nArg!=2): a"},
      {"a text that may be empty is trimmed", {.fields = 2, .mayBeEmpty = true}, " a|b ", "a|b", {"a", "b"}, {}, {},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      std::optional<CommandArguments> read = readArguments("Verb", c.rules, c.text);
      ASSERT_TRUE(read);
      EXPECT_EQ(c.error, "");
      EXPECT_EQ(read->text, c.value);
      EXPECT_EQ(read->fields, c.fields);
      EXPECT_EQ(read->output, c.output);
      EXPECT_EQ(read->extension, c.extension);
    } catch (const ScriptError& error) {
      EXPECT_EQ(error.what(), c.error);
    }
  }
  EXPECT_FALSE(readArguments("Verb", {.fields = 7, .mayBeEmpty = true}, "  "));
}

// A handler works on the run it is given, not on the process's: a context
// over another working script and another temporary folder is the one the
// verbs read and write.
TEST(Arguments, HandlersWorkOnTheContextTheyAreGiven) {
  TempDir dir;
  ScopedRun run(dir, true, "[var]\nfound=process\n");
  test::writeFile(dir / "other.ini", "[var]\nfound=other\n");
  RunEnvironment other = runEnvironment();
  other.iniPath = dir / "other.ini";
  const ResourceBundle none;
  const CommandContext context{other, Variables(other.iniPath), host(), "/nowhere", executionLog(), none};
  callCommand(context, "Exists", dir.path() + "->found");
  EXPECT_EQ(Variables(other.iniPath).get("found"), "1");
  EXPECT_EQ(GetVariable("found"), "process");
}

// What a handler or a typed call logs goes to its context's log, not to the
// process's: a run other than the process's keeps its own lines.
TEST(Arguments, HandlersWriteToTheLogOfTheirContext) {
  struct RecordingLog final : ExecutionLog {
    void write(std::string_view text) override { texts += text; }
    std::string texts;
  };
  struct Case {
    const char* name;
    std::function<void(const CommandContext&)> call;
    std::string logged;
  };
  const Case cases[] = {
      {"a handler",
       [](const CommandContext& c) { callCommand(c, "DownloadAndInstall", "Vexta|vx|d|r|p|k|http://127.0.0.1:9/x"); },
       "Additional software Vexta install canceled by user!\n"},
      {"a typed call's line", [](const CommandContext& c) { commands::logReport(c, "install", "failed"); },
       "SendLog install|failed||\r\n"},
      {"a typed call's failure", [](const CommandContext& c) { commands::openUrl(c, "nowhere", "ie"); },
       "OpenUrl nowhere|ie\r\n[OpenUrl] Invalid arguments (arg 2 is not a valid url )nowhere\r\n"},
      {"a check of a download",
       [](const CommandContext& c) { commands::checkDownload(c, "/nowhere", "http://127.0.0.1:9/x", ""); },
       "[DownloadAndInstall] http://127.0.0.1:9/x: the offer names no sha256 digest; the download runs unchecked\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ScopedRun run(dir, true, "[var]\nsoftname1=Vexta\nsoftcheck1=0\n");
    RecordingLog log;
    const ResourceBundle none;
    const RunEnvironment& environment = runEnvironment();
    c.call(CommandContext{environment, Variables(environment.iniPath), host(), "/nowhere", log, none});
    EXPECT_EQ(log.texts, c.logged);
    closeExecutionLog();
    EXPECT_EQ(test::logText(run.logPath()), "");
  }
}

}  // namespace
}  // namespace lumo
