// The script lint: each kind of fault at its line, sound scripts left
// alone, and the verbs' argument rules agreeing with their handlers.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "lint.h"
#include "offer_lint.h"
#include "platform/text.h"
#include "script/handler_registry.h"
#include "script/run_environment.h"
#include "support/test_support.h"

namespace lumo::test {
namespace {

// The texts that end runs; the sound sections below send them.
constexpr std::string_view kEndingVars =
    "msg_complete=安装完成\n"
    "msg_close=正在关闭\n"
    "msg_cancel_complete=回滚完成\n"
    "msg_removed=卸载完成\n";

// A script whose sections are sound unless a test replaces one. Lines:
// 1 [var], 2-5 the ending texts, then `vars`, then each section's header
// and lines in this order.
struct Script {
  std::string vars{};
  std::optional<std::string> installinit = "";
  std::optional<std::string> install = "#Kill a\n#NotifyOK\n";
  std::optional<std::string> installok = "#Notify @msg_complete|100\n#Notify @msg_close|100\n";
  std::optional<std::string> installfailed = "#Notify @msg_cancel_complete|0\n";
  std::optional<std::string> uninstall = "#Notify @msg_removed|100\n";

  std::string text() const {
    std::string out = "[var]\n" + std::string(kEndingVars) + vars;
    auto add = [&](const char* header, const std::optional<std::string>& lines) {
      if (lines) out += std::string(header) + "\n" + *lines;
    };
    add("[installinit]", installinit);
    add("[install]", install);
    add("[installok]", installok);
    add("[installfailed]", installfailed);
    add("[uninstall]", uninstall);
    return out;
  }
};

// Written as scripts are shipped: GBK with CR LF line ends.
std::string writeScript(const TempDir& dir, std::string_view utf8) {
  std::string crlf;
  for (char c : utf8) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::string path = dir / "install.ini";
  writeFile(path, utf8ToGbk(crlf));
  return path;
}

std::string describe(const std::vector<LintFinding>& findings) {
  std::string out;
  for (const LintFinding& finding : findings) out += "\n  " + formatFinding(finding);
  return out.empty() ? " (none)" : out;
}

struct FaultCase {
  const char* fault;
  Script script;
  int line;
  Severity severity;
  const char* text;
};

TEST(ScriptLint, ReportsEachKindOfFaultAtItsLineAndNothingElse) {
  const FaultCase cases[] = {
      {"verb in another letter case", {.installinit = "#notify a|1\n"}, 7, Severity::Error, "unknown verb \"notify\""},
      {"field count", {.installinit = "#Kill a\n#Notify a\n"}, 8, Severity::Error, "Notify takes 2 fields"},
      {"a field too many beside a variable", {.installinit = "#Move @installdir|b|c\n"}, 7, Severity::Error,
       "Move takes 2 fields"},
      {"missing ->", {.installinit = "#ReadReg HKEY_CURRENT_USER|k|v\n"}, 7, Severity::Error, "produces a value"},
      {"empty target variable", {.installinit = "#GetMaxDisk ->\n"}, 7, Severity::Error, "no variable after \"->\""},
      {"IfThen without ->", {.installinit = "#IfThen (1==1)\n"}, 7, Severity::Error, "IfThen without \"->\""},
      {"IfThen without operator", {.installinit = "#IfThen (1=1)->#Kill a\n"}, 7, Severity::Error,
       "neither \"==\" nor \"!=\""},
      {"IfThen target without #", {.installinit = "#IfThen (1==1)-> #Kill a\n"}, 7, Severity::Error,
       "must start with \"#\""},
      {"IfThen target IfThen", {.installinit = "#IfThen (1==1)->#IfThen (1==1)->#Kill a\n"}, 7, Severity::Error,
       "itself IfThen"},
      {"undefined macro", {.installinit = "#Delete $KERNAL\\a\n"}, 7, Severity::Error, "\"$KERNAL\" is not a folder macro"},
      {"undefined variable", {.installinit = "#Delete @instaldir\\a\n"}, 7, Severity::Error, "\"@instaldir\" is neither"},
      {"undefined variable in a condition", {.installinit = "#IfThen (@autorn==1)->#Kill a\n"}, 7, Severity::Error,
       "\"@autorn\" is neither"},
      {"missing [install]", {.install = std::nullopt}, 1, Severity::Warning, "section [install] is missing"},
      {"empty [installfailed]", {.installfailed = ""}, 13, Severity::Warning, "section [installfailed] is empty"},
      {"[install] not ending in NotifyOK", {.install = "#NotifyOK\n#Kill a\n"}, 9, Severity::Warning,
       "not NotifyOK"},
      {"no msg_complete at 100", {.installok = "#Notify @msg_complete|99\n#Notify @msg_close|100\n"}, 10,
       Severity::Warning, "never sends msg_complete at 100"},
      {"no msg_close", {.installok = "#Notify 安装完成|100\n"}, 10, Severity::Warning, "never sends msg_close at 100"},
      {"no msg_cancel_complete at 0", {.installfailed = "#Notify @msg_cancel_complete|5\n"}, 13, Severity::Warning,
       "never sends msg_cancel_complete at 0"},
      {"no msg_removed at 100", {.uninstall = "#IfThen (1==1)->#Notify @msg_removed|100\n"}, 15, Severity::Warning,
       "never sends msg_removed at 100"},
      {"command without #", {.installinit = "#Kill a\nKill b\n#Kill c\n"}, 8, Severity::Warning,
       "lacks its \"#\""},
      {"self-referring variable", {.vars = "loop=x@loop\n"}, 6, Severity::Warning, "refers to itself"},
  };
  for (const FaultCase& c : cases) {
    TempDir dir;
    std::vector<LintFinding> findings = lintScript(writeScript(dir, c.script.text()));
    ASSERT_EQ(findings.size(), 1u) << c.fault << describe(findings);
    EXPECT_EQ(findings[0].line, c.line) << c.fault << describe(findings);
    EXPECT_EQ(findings[0].severity, c.severity) << c.fault << describe(findings);
    EXPECT_NE(findings[0].text.find(c.text), std::string::npos) << c.fault << describe(findings);
  }
}

TEST(ScriptLint, BytesThatAreNotGbkAreAnError) {
  TempDir dir;
  std::string path = dir / "install.ini";
  std::string gbk = utf8ToGbk(Script{.installinit = "#Kill a\n#Kill BAD\n"}.text());
  gbk.replace(gbk.find("BAD"), 3, "\xff");
  writeFile(path, gbk);
  std::vector<LintFinding> findings = lintScript(path);
  ASSERT_EQ(findings.size(), 1u) << describe(findings);
  EXPECT_EQ(findings[0].line, 8);
  EXPECT_NE(findings[0].text.find("not GBK"), std::string::npos);
}

TEST(ScriptLint, SoundScriptsStaySilent) {
  const Script sound{
      .vars = "download=Name|Short|About|HKEY_LOCAL_MACHINE|Software\\X|Ver|http://example.com/x\n"
              "regpart=Software\\X|Ver\n"
              "cache=$KERNEL\\cache\n",
      .installinit = "#IfThen (@autorun==1)->#Kill a\n"
                     "#IfThen (@cache!=\"\")->#RMDir @cache\n"
                     "#IfThen (@softcheck1==1)->#DownloadAndInstall @softurl1\n"
                     "#DownloadAndInstall @download\n"
                     "#WriteReg HKEY_CURRENT_USER|@regpart|1\n"
                     "#Delete @later\\x\n"
                     "#Run  $INSTALL\\a.exe|\"$KERNEL/x\"|0|hide->pid\n"
                     "#WaitProcess @pid|850|20\n"
                     "#SendLog uninstall|start||+checkbox=@rmuserdata\n"
                     "; #Nope a commented-out line\n"
                     "#Copy $INSTALLER|$APPDATA\\Lumo\\Installer\n",
      .install = "#GetMaxDisk ->later\n#NotifyOK\n",
  };
  TempDir dir;
  std::vector<LintFinding> findings = lintScript(writeScript(dir, sound.text()));
  EXPECT_TRUE(findings.empty()) << describe(findings);

  findings = lintScript(std::string(LUMO_SOURCE_DIR) + "/resources/install.ini");
  EXPECT_TRUE(findings.empty()) << describe(findings);
}

// Runs every verb that counts its fields with one field fewer, the count
// its rules allow and one more, in a sandbox where the allowed call ends
// harmlessly, and checks that the handler refuses exactly what the lint
// reports.
TEST(ScriptLint, ArgumentRulesAgreeWithTheHandlers) {
  TempDir dir;
  ScopedEnv home("HOME", dir / "home");
  ScopedEnv config("XDG_CONFIG_HOME", dir / "home/.config");
  ScopedEnv data("XDG_DATA_HOME", dir / "home/.local/share");
  ScopedEnv sysroot("LUMO_SYSROOT", dir / "root");
  ScopedEnv stats("LUMO_STATS_URL", "http://127.0.0.1:9");
  ScopedEnv proxy("http_proxy", std::nullopt);
  ScopedEnv proxyUpper("HTTP_PROXY", std::nullopt);
  ScopedEnv allProxy("ALL_PROXY", std::nullopt);
  ScopedEnv allProxyLower("all_proxy", std::nullopt);
  const RunEnvironment saved = runEnvironment();
  RunEnvironment& environment = runEnvironment();
  environment.kernel = dir / "kernel";
  environment.tempDir = dir / "temp/";
  environment.system.clear();
  writeFile(dir / "kernel/LumoClient/.keep", "");
  writeFile(dir / "temp/.keep", "");
  useWorkingScript(dir / "working.ini", "[var]\n");

  struct Probe {
    std::string verb;
    std::string arguments;
    bool refused;
  };
  std::vector<Probe> probes;
  for (const Command& command : registeredCommands()) {
    const ArgumentRules& rules = command.rules;
    const std::string output = rules.output == Output::None ? "" : "->probe";
    if (rules.fields > 0) {
      for (int count = rules.fields - 1; count <= rules.fields + 1; ++count) {
        if (count > 0) probes.push_back({command.verb, std::string(count - 1, '|') + output, count != rules.fields});
      }
    }
    const std::string allowed = std::string(std::max(rules.fields - 1, 0), '|');
    if (rules.output == Output::Required) probes.push_back({command.verb, allowed, true});
    if (rules.output != Output::None) probes.push_back({command.verb, allowed + output, false});
  }
  ASSERT_GE(probes.size(), 60u);

  std::string lines;
  for (const Probe& probe : probes) lines += "#" + probe.verb + " " + probe.arguments + "\n";
  std::vector<LintFinding> findings = lintScript(writeScript(dir, Script{.installinit = lines}.text()));
  for (std::size_t i = 0; i < probes.size(); ++i) {
    const Probe& probe = probes[i];
    const std::string message = commandError(probe.verb, probe.arguments);
    const bool handlerRefused =
        message.find("(nArg!=") != std::string::npos || message.find("(Missing operator") != std::string::npos;
    EXPECT_EQ(handlerRefused, probe.refused) << probe.verb << " " << probe.arguments << ": " << message;

    const int line = 7 + static_cast<int>(i);
    const bool lintRefused = std::any_of(findings.begin(), findings.end(), [&](const LintFinding& f) {
      return f.line == line && f.severity == Severity::Error;
    });
    EXPECT_EQ(lintRefused, probe.refused) << probe.verb << " " << probe.arguments << describe(findings);
  }
  runEnvironment() = saved;
}

// "v0=@v1", "v1=@v2", ... and the last one back to `last`.
std::string chainOfVariables(int count, const std::string& last) {
  std::string vars;
  for (int i = 0; i + 1 < count; ++i) vars += "v" + std::to_string(i) + "=@v" + std::to_string(i + 1) + "\n";
  return vars + "v" + std::to_string(count - 1) + "=" + last + "\n";
}

TEST(ScriptLint, LoopsOfReferencesAreFoundOnceForEachMemberAtAnyLength) {
  struct Case {
    const char* what;
    int count;
    std::string last;
    std::size_t loopMembers;
    std::string shownForV0;  // part of v0's warning
  };
  const Case cases[] = {
      {"a long chain without a loop", 30000, "end", 0, ""},
      {"a long chain that ends in a loop", 30000, "@v29990", 10, ""},
      {"a long loop", 30000, "@v0", 30000, "(v0 -> v1 -> v2 -> v3 -> v4 -> v5 -> ... -> v29998 -> v29999 -> v0, 30000 steps)"},
      {"a short loop", 3, "x@v0", 3, "(v0 -> v1 -> v2 -> v0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::vector<LintFinding> findings =
        lintScript(writeScript(dir, Script{.vars = chainOfVariables(c.count, c.last), .installinit = "#Kill @v0\n"}.text()));
    std::size_t loops = 0;
    for (const LintFinding& finding : findings) {
      if (finding.text.find("refers to itself") == std::string::npos) continue;
      ++loops;
      if (finding.text.starts_with("variable \"v0\"") && !c.shownForV0.empty()) {
        EXPECT_NE(finding.text.find(c.shownForV0), std::string::npos) << finding.text;
      }
    }
    EXPECT_EQ(loops, c.loopMembers);
    EXPECT_EQ(findings.size(), loops) << "nothing else is found";
  }
}

TEST(ScriptLint, JsonIsValidForFileNamesThatAreNotUtf8) {
  TempDir dir;
  std::string script = writeScript(dir, Script{.installinit = "#Notify a\n"}.text());
  std::string strange = dir / "install\xff\xfe.ini";
  std::filesystem::rename(script, strange);
  ProcessResult linted = runProgram({buildPath("lumo-pack"), "lint", "--json", strange});
  EXPECT_EQ(linted.exitCode, 1);
  EXPECT_EQ(toValidUtf8(linted.out), linted.out) << "only UTF-8";
  EXPECT_NE(linted.out.find("install\xEF\xBF\xBD\xEF\xBF\xBD.ini"), std::string::npos) << linted.out;
}

// The packer is where a script meets its installer: an error must leave no
// installer behind, a warning must not stop one.
TEST(ScriptLint, PackingRefusesAScriptWithErrorsAndPrintsWarnings) {
  struct Case {
    const char* what;
    Script script;
    int status;
    bool written;
    const char* printed;
  };
  const Case cases[] = {
      {"error", {.installinit = "#Notify a\n"}, 1, false, "install.ini:7: error: Notify takes 2 fields"},
      {"warning", {.installinit = "#Kill a\nKill b\n"}, 0, true, "install.ini:8: warning: looks like a command"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string script = writeScript(dir, c.script.text());
    ProcessResult packed = runProgram({buildPath("lumo-pack"), buildPath("lumo-installer-program"), "-o",
                                       dir / "LumoInstaller", "--incomplete", "--set", "INI:800=" + script});
    EXPECT_EQ(packed.exitCode, c.status) << c.what << packed.err;
    EXPECT_EQ(pathExists(dir / "LumoInstaller"), c.written) << c.what;
    EXPECT_NE(packed.err.find(c.printed), std::string::npos) << c.what << packed.err;

    ProcessResult linted = runProgram({buildPath("lumo-pack"), "lint", "--json", script});
    EXPECT_EQ(linted.exitCode, c.status) << c.what << linted.out;
    EXPECT_NE(linted.out.find(c.status ? "\"errors\":1" : "\"warnings\":1"), std::string::npos) << linted.out;
  }
}

// Offer lists: each offer line on its own, a sound one giving nothing.
TEST(OfferListLint, ReportsEachFaultOfAnOfferLineAndNothingElse) {
  const std::string digest = "sha256:" + std::string(64, 'a');
  auto line = [&](std::string check, std::string url = "https://example.org/a.sh", std::string name = "Alpha") {
    return "<item name=\"" + name + "\" keyWord=\"k\" extendName=\"a\" check=\"" + check +
           "\" regRoot=\"HKCU\" regPath=\"p\" regKey=\"v\" url=\"" + url + "\"/>";
  };
  struct Case {
    const char* fault;
    std::string line;
    std::optional<Severity> severity;  // nothing: no finding
    const char* text;
  } cases[] = {
      {"sound", line(digest), std::nullopt, ""},
      {"sound over http, upper-case digits", line("sha256:" + std::string(64, 'F'), "http://h/a.sh"), std::nullopt, ""},
      {"no digest", line("1"), Severity::Warning, "names no digest: the program from https://example.org/a.sh runs unchecked"},
      {"short digest", line("sha256:abc"), Severity::Error, "is not \"sha256:\" and 64 hex digits"},
      {"digest not hex", line("sha256:" + std::string(64, 'g')), Severity::Error, "64 hex digits"},
      {"no web address", line(digest, "ftp://h/a.sh"), Severity::Error, "is not an http:// or https:// address"},
      {"a value the record cannot carry", line(digest, "https://h/a.sh", "A|B"), Severity::Error,
       "value of \"name\" holds one of"},
      {"attributes out of order", "<item keyWord=\"k\" name=\"n\" extendName=\"e\" check=\"" + digest +
       "\" regRoot=\"r\" regPath=\"p\" regKey=\"v\" url=\"https://h/a\"/>", Severity::Error,
       "\"keyWord\" is missing or out of order"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string path = dir / "offers.xml";
    writeFile(path, "<?xml version=\"1.0\"?>\n<soft>\n" + c.line + "\n</soft>\n");
    std::vector<LintFinding> findings = lintOfferList(path);
    if (!c.severity) {
      EXPECT_TRUE(findings.empty()) << c.fault << describe(findings);
      continue;
    }
    ASSERT_EQ(findings.size(), 1u) << c.fault << describe(findings);
    EXPECT_EQ(findings[0].line, 3) << c.fault;
    EXPECT_EQ(findings[0].severity, *c.severity) << c.fault;
    EXPECT_NE(findings[0].text.find(c.text), std::string::npos) << c.fault << describe(findings);
  }
  EXPECT_TRUE(isOfferList("a/offers.XML"));
  EXPECT_FALSE(isOfferList("a/install.ini"));
}

}  // namespace
}  // namespace lumo::test
