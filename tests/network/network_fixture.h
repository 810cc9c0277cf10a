// The common ground of the network tests: a loopback server, a temporary
// home, system root and temporary folder, a working script, reports sent to
// the loopback server, and no proxy in the way.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "network/loopback_server.h"
#include "script/run_environment.h"
#include "script/script_engine.h"
#include "support/test_support.h"

namespace lumo::test {

// Records what commands show to the user.
class RecordingHost final : public Host {
 public:
  std::vector<std::pair<std::string, std::string>> balloons;
  void balloon(const std::string& title, const std::string& text) override { balloons.emplace_back(title, text); }
  void installFailed() override {}
  void installFinished() override {}
  void progress(const std::string&, int) override {}
  Button ask(const Question& question) override { return question.silentAnswer; }
};

class NetworkTest : public ::testing::Test {
 protected:
  // [var] lines of the working script common to every test.
  static constexpr const char* kVariables =
      "app_version=1.4.136.6\nuid=U17\nchannelid=C9\nmacaddr=\n"
      "softcheck1=0\nsoftcheck2=0\nsoftcheck3=0\n";

  NetworkTest()
      : home_("HOME", dir_ / "home"),
        config_("XDG_CONFIG_HOME", dir_ / "home/.config"),
        sysroot_("LUMO_SYSROOT", dir_ / "root"),
        stats_("LUMO_STATS_URL", server_.base()),
        proxy_("http_proxy", std::nullopt),
        proxyUpper_("HTTP_PROXY", std::nullopt),
        allProxy_("ALL_PROXY", std::nullopt),
        allProxyLower_("all_proxy", std::nullopt),
        noProxy_("no_proxy", "127.0.0.1,localhost"),
        saved_(runEnvironment()) {
    RunEnvironment& environment = runEnvironment();
    environment.kernel = dir_ / "kernel";
    environment.tempDir = dir_ / "temp/";
    environment.systemName = "linux";
    writeFile(dir_ / "kernel/LumoClient/.keep", "");
    writeFile(dir_ / "temp/.keep", "");
    writeFile(dir_ / "home/.keep", "");
    useScript("");
    setHost(&host_);
  }

  ~NetworkTest() override {
    setHost(nullptr);
    runEnvironment() = saved_;
  }

  // A working script with `extraVariables` and the common variables (the
  // first line of a key counts, so the extra lines win).
  void useScript(const std::string& extraVariables) {
    useWorkingScript(dir_ / "lumo_install.ini", "[var]\n" + extraVariables + kVariables);
  }

  // Puts an identifier into the identity file, so reports carry it.
  void storeIdentity(const std::string& identifier) {
    writeFile(runEnvironment().kernel + "/LumoClient/InstallConfig.ini", "[Install]\nID=" + identifier + "\n");
  }

  // The request line a report with these values produces, suffix included.
  std::string reportLine(const std::string& method, const std::string& result, const std::string& extend,
                         const std::string& value, const std::string& macid, const std::string& suffix = "") const {
    return "GET /tarn_cli.gif?method=" + method + "&result=" + result + "&extend=" + extend + "&value=" + value +
           "&cancelPage=&platform=pc&os=linux&uid=U17&macid=" + macid +
           "&version=1.4.136.6&type=full_install&channelid=C9&appid=0" + suffix + " HTTP/1.1";
  }

  TempDir dir_;
  LoopbackServer server_;
  ScopedEnv home_, config_, sysroot_, stats_, proxy_, proxyUpper_, allProxy_, allProxyLower_, noProxy_;
  RunEnvironment saved_;
  RecordingHost host_;
};

}  // namespace lumo::test
