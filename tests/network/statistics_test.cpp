#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "commands/statistics.h"
#include "network/network_fixture.h"
#include "platform/text.h"
#include "script/execution_log.h"

namespace lumo {
namespace {

using test::runCommand;
using test::NetworkTest;

class StatisticsTest : public NetworkTest {
 protected:
  StatisticsTest() { storeIdentity("M1"); }

  std::string lastRequestLine() {
    auto lines = server_.requestLines();
    return lines.empty() ? std::string("(no request)") : lines.back();
  }
};

TEST_F(StatisticsTest, ReportsCarryTheirFieldsInTheTemplateOrder) {
  struct Case {
    const char* variables;  // extra [var] lines
    const char* arguments;
    const char* extend;
    const char* value;
    const char* suffix;
  } cases[] = {
      {"", "install|start||", "", "", ""},
      // The install rule: no offers leaves the reset tick states.
      {"", "install|complete||+setuprun=2", "", "0_0_0", "&setuprun=2"},
      {"", "uninstall|canceled||+sysbtn=0", "", "", "&sysbtn=0"},
      {"", "uninstall|start||+ checkbox=1 ", "", "", "&checkbox=1"},
      // An extension without "=" is dropped.
      {"", "install|start||+abc", "", "", ""},
      {"softshortname1=p\nsoftshortname2=q\nsoftshortname3=r\n", "install|complete|x|", "xp_q_r", "0_0_0", ""},
      {"softshortname1=a\nsoftshortname2=b\nsoftshortname3=c\nsoftcheck1=1\nsoftcheck3=1\n", "install|canceled||",
       "a_b_c", "1_0_1", ""},
      // Only complete and canceled installations apply the rule.
      {"softshortname1=a\nsoftcheck1=1\n", "install|failed||", "", "", ""},
      {"softshortname1=a\nsoftcheck1=1\n", "uninstall|complete||", "", "", ""},
      {"", "install|downloadOk|foo|1", "foo", "1", ""},
  };
  for (const auto& c : cases) {
    useScript(c.variables);
    std::string arguments = c.arguments;
    runCommand("SendLog", arguments);
    std::string method = arguments.substr(0, arguments.find('|'));
    std::string rest = arguments.substr(method.size() + 1);
    std::string result = rest.substr(0, rest.find('|'));
    EXPECT_EQ(lastRequestLine(), reportLine(method, result, c.extend, c.value, "M1", c.suffix)) << c.arguments;
  }
  EXPECT_EQ(server_.requests().size(), std::size(cases));
}

TEST_F(StatisticsTest, ValuesAreSentAsTheyAreAndOnlyTheTransportEncodes) {
  runCommand("SendLog", "install|start|a b|影音%41");
  EXPECT_EQ(lastRequestLine(), reportLine("install", "start", "a%20b", "%E5%BD%B1%E9%9F%B3%41", "M1"));
}

TEST_F(StatisticsTest, ReportsNameTheProgramAsTheirUserAgent) {
  runCommand("SendLog", "install|start||");
  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].headers["user-agent"], "test_network");
}

TEST_F(StatisticsTest, MalformedReportsThrowTheirMessages) {
  std::string report = server_.base() + "/tarn_cli.gif?method=install&result=start&extend=&value=&cancelPage=" +
                       "&platform=pc&os=linux&uid=U17&macid=M1&version=1.4.136.6&type=full_install&channelid=C9" +
                       "&appid=0&a=b|c";
  struct Case {
    const char* verb;
    std::string arguments;
    std::string message;
  } cases[] = {
      {"SendLog", "install|start|", "[SendLog] Invalid arguments (nArg!=4): install|start|"},
      // A "+" inside a field cuts the text there.
      {"SendLog", "install|st+art||", "[SendLog] Invalid arguments (nArg!=4): install|st"},
      // An extension with "|" makes the address split into three fields.
      {"SendLog", "install|start||+a=b|c", "[OpenUrl] Invalid arguments (nArg!=2): " + report + "|"},
      {"OpenUrl", "http://127.0.0.1/", "[OpenUrl] Invalid arguments (nArg!=2): http://127.0.0.1/"},
      {"OpenUrl", "www.example.com|ie", "[OpenUrl] Invalid arguments (arg 2 is not a valid url )www.example.com"},
      {"OpenUrl", "HTTP://EXAMPLE.COM|", "[OpenUrl] Invalid arguments (arg 2 is not a valid url )HTTP://EXAMPLE.COM"},
  };
  for (const auto& c : cases) {
    try {
      runCommand(c.verb, c.arguments);
      ADD_FAILURE() << "no error for " << c.arguments;
    } catch (const ScriptError& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(StatisticsTest, TheProgramsOwnReportsAreLoggedAsTheirScriptLinesAndNeverThrow) {
  ASSERT_TRUE(openExecutionLog(dir_ / "LumoInstaller.log"));
  commands::sendReport("install", "failed");
  commands::sendReport("uninstall", "canceled", "sysbtn=1");
  {
    test::ScopedEnv stats("LUMO_STATS_URL", "ftp://127.0.0.1");
    EXPECT_NO_THROW(commands::sendReport("install", "canceled"));
  }
  closeExecutionLog();
  // Each "\r\n" of a log text reaches the file as CR CR LF.
  EXPECT_EQ(gbkToUtf8(test::readFile(dir_ / "LumoInstaller.log")),
            "SendLog install|failed||\r\r\n"
            "SendLog uninstall|canceled||+sysbtn=1\r\r\n"
            "SendLog install|canceled||\r\r\n"
            "[OpenUrl] Invalid arguments (arg 2 is not a valid url )ftp://127.0.0.1/tarn_cli.gif?method=install&"
            "result=canceled&extend=&value=0_0_0&cancelPage=&platform=pc&os=linux&uid=U17&macid=M1&"
            "version=1.4.136.6&type=full_install&channelid=C9&appid=0\r\r\n");
  EXPECT_EQ(server_.requestLines(),
            (std::vector<std::string>{reportLine("install", "failed", "", "", "M1"),
                                      reportLine("uninstall", "canceled", "", "", "M1", "&sysbtn=1")}));
}

TEST_F(StatisticsTest, AnUnreachableEndpointIsSilent) {
  test::ClosedPort closed;
  test::ScopedEnv stats("LUMO_STATS_URL", "http://127.0.0.1:" + std::to_string(closed.port()) + "/");
  EXPECT_NO_THROW(runCommand("SendLog", "install|start||"));
}

TEST_F(StatisticsTest, OpenUrlOpensTheBrowserOnlyForTheExactModeIe) {
  test::writeFile(dir_ / "bin/xdg-open",
                  "#!/bin/sh\nd=$(dirname \"$0\")\nprintf '%s\\n' \"$@\" > \"$d/part\"\nmv \"$d/part\" \"$d/opened\"\n");
  ::chmod((dir_ / "bin/xdg-open").c_str(), 0755);
  test::ScopedEnv path("PATH", dir_ / "bin:/usr/bin:/bin");

  runCommand("OpenUrl", server_.base() + "/licence.html|IE");
  EXPECT_EQ(server_.requestLines(), std::vector<std::string>{"GET /licence.html HTTP/1.1"});
  EXPECT_FALSE(test::pathExists(dir_ / "bin/opened"));

  runCommand("OpenUrl", server_.base() + "/licence.html|ie");
  for (int i = 0; i < 100 && !test::pathExists(dir_ / "bin/opened"); ++i) ::usleep(50 * 1000);
  EXPECT_EQ(test::readFile(dir_ / "bin/opened"), server_.base() + "/licence.html\n");
  EXPECT_EQ(server_.requests().size(), 1u);  // the opener, not the program, fetches it
}

}  // namespace
}  // namespace lumo
