#include "platform/http_client.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <fcntl.h>

#include <filesystem>

#include "network/loopback_server.h"
#include "support/test_support.h"

namespace lumo {
namespace {

using test::ClosedPort;
using test::LoopbackServer;
using test::ScopedEnv;
using test::TempDir;

struct NoProxy {
  ScopedEnv http{"http_proxy", std::nullopt}, httpUpper{"HTTP_PROXY", std::nullopt}, all{"ALL_PROXY", std::nullopt},
      allLower{"all_proxy", std::nullopt}, none{"no_proxy", "127.0.0.1"};
};

TEST(TransportUrl, EncodesOnlyWhatAUrlCannotCarry) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"http://h/p?a=1&b=x_y-z.~!*'();:@$,/", "http://h/p?a=1&b=x_y-z.~!*'();:@$,/"},
      {"http://h/p?a=a b", "http://h/p?a=a%20b"},
      {"http://h/p?a=影音", "http://h/p?a=%E5%BD%B1%E9%9F%B3"},
      {"http://h/p?a=%41", "http://h/p?a=%41"},  // already encoded text is left alone
      {"http://h/p?a=\"<>\\^`{|}", "http://h/p?a=%22%3C%3E%5C%5E%60%7B%7C%7D"},
      {"http://h/p?a=\t\x7f", "http://h/p?a=%09%7F"},
  };
  for (const auto& c : cases) EXPECT_EQ(transportUrl(c.in), c.out) << c.in;
}

TEST(SilentGet, SendsOneGetWithTheUserAgentAndReadsNoBody) {
  NoProxy noProxy;
  LoopbackServer server;
  server.serve("/r?x=a%20b", std::string(1 << 20, 'x'));  // a body nobody should wait for
  FetchOptions options;
  options.userAgent = "LumoInstaller";
  FetchResult result = silentGet(server.base() + "/r?x=a b", options);
  EXPECT_TRUE(result.connected);
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(result.connectAttempts, 1);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].line, "GET /r?x=a%20b HTTP/1.1");
  EXPECT_EQ(requests[0].headers["user-agent"], "LumoInstaller");
}

TEST(SilentGet, AnErrorStatusIsNoReasonToRetry) {
  NoProxy noProxy;
  LoopbackServer server;
  FetchResult result = silentGet(server.base() + "/missing", {});
  EXPECT_EQ(result.status, 404);
  EXPECT_EQ(result.connectAttempts, 1);
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST(SilentGet, ARefusedConnectionIsTriedTwiceInAll) {
  NoProxy noProxy;
  ClosedPort closed;
  FetchResult result = silentGet("http://127.0.0.1:" + std::to_string(closed.port()) + "/r", {});
  EXPECT_FALSE(result.connected);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.connectAttempts, kConnectAttempts);
  EXPECT_EQ(kConnectAttempts, 2);
  EXPECT_LT(result.elapsedMs, 2000);  // refused at once, no time-out waited
}

// A listener whose accept queue is full drops new connection requests, so a
// connect attempt to it waits for the time-out.
TEST(SilentGet, AConnectThatHangsGivesUpAfterTheTimeOutPerAttempt) {
  NoProxy noProxy;
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(filler, reinterpret_cast<sockaddr*>(&address), length);
    fillers.push_back(filler);
  }
  // The queue is full once the first request has been taken into it.
  pollfd first{fillers.front(), POLLOUT, 0};
  ASSERT_EQ(::poll(&first, 1, 5000), 1);

  FetchOptions options;
  options.connectTimeoutMs = 300;
  FetchResult result = silentGet("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/r", options);
  for (int filler : fillers) ::close(filler);
  ::close(listener);

  EXPECT_FALSE(result.connected);
  EXPECT_EQ(result.connectAttempts, 2);
  EXPECT_GE(result.elapsedMs, 2 * 300 - 50);
  EXPECT_LT(result.elapsedMs, 3000);
}

TEST(DownloadToFile, WritesTheWholeBodyWithTheModeOfItsKind) {
  NoProxy noProxy;
  LoopbackServer server;
  server.serve("/setup.sh", "#!/bin/sh\necho hi\n");
  server.serve("/list.xml", "<list/>");
  TempDir dir;
  test::writeFile(dir / "setup.sh", "old contents");

  struct Case {
    const char* target;
    DownloadedFile kind;
    mode_t mode;
  } cases[] = {{"/setup.sh", DownloadedFile::Program, 0755}, {"/list.xml", DownloadedFile::Data, 0644}};
  for (const auto& c : cases) {
    std::string path = dir / (c.target + 1);
    ASSERT_TRUE(downloadToFile(server.base() + c.target, path, c.kind)) << c.target;
    struct stat info{};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, c.mode) << c.target;
  }
  EXPECT_EQ(test::readFile(dir / "setup.sh"), "#!/bin/sh\necho hi\n");
}

TEST(DownloadToFile, AFailedDownloadLeavesNothingBehind) {
  NoProxy noProxy;
  LoopbackServer server;
  ClosedPort closed;
  TempDir dir;
  test::writeFile(dir / "kept.xml", "earlier list");
  EXPECT_FALSE(downloadToFile(server.base() + "/missing.xml", dir / "missing.xml", DownloadedFile::Data));
  EXPECT_FALSE(downloadToFile("http://127.0.0.1:" + std::to_string(closed.port()) + "/kept.xml", dir / "kept.xml",
                              DownloadedFile::Data));
  EXPECT_FALSE(test::pathExists(dir / "missing.xml"));
  EXPECT_EQ(test::readFile(dir / "kept.xml"), "earlier list");
  // No temporary file stays in the folder either.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(OpenAddress, StartsTheDesktopOpenerWithoutWaitingForIt) {
  TempDir dir;
  // The opener goes on only once the test writes to its pipe, which it does
  // after openAddress has returned (or after 5 s, if that waited for it).
  test::writeFile(dir / "bin/xdg-open", "#!/bin/sh\nd=$(dirname \"$0\")\ntimeout 5 head -c 1 \"$d/go\" >/dev/null\n"
                                        "printf '%s\\n' \"$@\" > \"$d/part\"\nmv \"$d/part\" \"$d/opened\"\n");
  ::chmod((dir / "bin/xdg-open").c_str(), 0755);
  const std::string go = dir / "bin/go";
  ASSERT_EQ(::mkfifo(go.c_str(), 0600), 0);
  ScopedEnv path("PATH", dir / "bin:/usr/bin:/bin");

  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(openAddress("http://example.com/a b?x=影音"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  // Opened for reading and writing, the pipe never blocks the test.
  const int pipe = ::open(go.c_str(), O_RDWR);
  ASSERT_GE(pipe, 0);
  EXPECT_EQ(::write(pipe, "g", 1), 1);
  for (int i = 0; i < 100 && !test::pathExists(dir / "bin/opened"); ++i) ::usleep(50 * 1000);
  ::close(pipe);
  EXPECT_EQ(test::readFile(dir / "bin/opened"), "http://example.com/a b?x=影音\n");
}

}  // namespace
}  // namespace lumo
