// https wherever http is taken: each verb that reaches the network accepts
// an https address and connects securely, with the certificate checked. The
// loopback server presents a certificate made at test time that no
// authority signed, so each request must be refused, and refused for that.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "network/network_fixture.h"
#include "platform/text.h"
#include "script/execution_log.h"

extern char** environ;

namespace lumo {
namespace {

using test::NetworkTest;
using test::runCommand;

// `openssl s_server` on a loopback port it picks itself, with a fresh
// self-signed certificate for 127.0.0.1; ended when the object goes away.
class UntrustedHttpsServer {
 public:
  explicit UntrustedHttpsServer(const test::TempDir& dir) {
    test::ProcessResult made = test::runProgram({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                                 "ec_paramgen_curve:P-256", "-nodes", "-days", "1", "-subj",
                                                 "/CN=127.0.0.1", "-keyout", dir / "key.pem", "-out", dir / "cert.pem"});
    if (made.exitCode != 0) throw std::runtime_error("openssl req: " + made.err);
    std::string log = dir / "s_server.out";
    std::vector<std::string> argv = {"/usr/bin/openssl", "s_server", "-accept", "127.0.0.1:0", "-cert",
                                     dir / "cert.pem", "-key", dir / "key.pem", "-www"};
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start openssl s_server");
    std::regex accept("ACCEPT 127\\.0\\.0\\.1:([0-9]+)");
    for (int i = 0; i < 200 && port_ == 0; ++i) {
      std::smatch match;
      std::string out = test::pathExists(log) ? test::readFile(log) : "";
      if (std::regex_search(out, match, accept)) port_ = std::stoi(match[1]);
      else ::usleep(25 * 1000);
    }
    if (port_ == 0) throw std::runtime_error("openssl s_server did not listen");
  }
  ~UntrustedHttpsServer() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  UntrustedHttpsServer(const UntrustedHttpsServer&) = delete;
  UntrustedHttpsServer& operator=(const UntrustedHttpsServer&) = delete;

  std::string base() const { return "https://127.0.0.1:" + std::to_string(port_); }

 private:
  pid_t pid_ = 0;
  int port_ = 0;
};

class SecureAddressTest : public NetworkTest {
 protected:
  SecureAddressTest() : https_(tlsDir_) { storeIdentity("M1"); }

  test::TempDir tlsDir_;
  UntrustedHttpsServer https_;
  test::ScopedEnv httpsProxy_{"https_proxy", std::nullopt}, httpsProxyUpper_{"HTTPS_PROXY", std::nullopt};
};

TEST_F(SecureAddressTest, EveryVerbTakesHttpsAndRefusesACertificateNoAuthoritySigned) {
  struct Case {
    const char* verb;
    std::string arguments;
    std::string address;  // as the log names it
  } cases[] = {
      {"OpenUrl", https_.base() + "/page|", https_.base() + "/page"},
      {"GetSoft", https_.base() + "/offers.xml", https_.base() + "/offers.xml"},
      {"DownloadAndInstall", "Beta|beta|fast||||" + https_.base() + "/beta.sh", https_.base() + "/beta.sh"},
      // Reports go wherever LUMO_STATS_URL points; the address is long.
      {"SendLog", "install|start||", https_.base() + "/tarn_cli.gif?method=install&result=start"},
  };
  for (const auto& c : cases) {
    std::string log = dir_ / (std::string(c.verb) + ".log");
    ASSERT_TRUE(openExecutionLog(log));
    test::ScopedEnv stats("LUMO_STATS_URL", https_.base());
    std::string error = test::commandError(c.verb, c.arguments);
    closeExecutionLog();
    // The address is taken: DownloadAndInstall fails only because nothing
    // came to run.
    EXPECT_EQ(error.find("Invalid"), std::string::npos) << c.verb << ": " << error;
    std::string written = gbkToUtf8(test::readFile(log));
    std::string refusal = "[" + std::string(c.verb == std::string("SendLog") ? "OpenUrl" : c.verb) + "] " + c.address;
    EXPECT_NE(written.find(refusal), std::string::npos) << written;
    EXPECT_NE(written.find(": secure connection refused: SSL certificate problem: self-signed certificate"),
              std::string::npos)
        << c.verb << ": " << written;
  }
  EXPECT_FALSE(test::pathExists(runEnvironment().tempDir + "beta.sh"));
}

TEST_F(SecureAddressTest, OpenUrlStillRefusesAddressesThatAreNeitherHttpNorHttps) {
  for (const char* address : {"ftp://127.0.0.1/x", "file:///etc/passwd", "127.0.0.1/page", "https:/127.0.0.1"})
    EXPECT_EQ(test::commandError("OpenUrl", std::string(address) + "|"),
              "[OpenUrl] Invalid arguments (arg 2 is not a valid url )" + std::string(address))
        << address;
}

}  // namespace
}  // namespace lumo
