// A small HTTP server on 127.0.0.1 for the network tests: it records every
// request and answers from a table of canned bodies (404 for anything else).
// It runs on its own thread, handles one connection at a time and stops by
// itself after a minute, so a failing test never leaves it behind.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumo::test {

struct RecordedRequest {
  std::string line;  // "GET /path?query HTTP/1.1"
  std::map<std::string, std::string> headers;  // names in lower case
};

class LoopbackServer {
 public:
  LoopbackServer();
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:PORT"
  std::string base() const;

  // Answers GET `target` (path and query as sent) with status 200 and `body`.
  void serve(const std::string& target, const std::string& body);

  std::vector<RecordedRequest> requests() const;
  std::vector<std::string> requestLines() const;

 private:
  void run();
  void handle(int client);

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::map<std::string, std::string> bodies_;
  std::vector<RecordedRequest> requests_;
  std::thread thread_;
};

// A loopback port that is held but not listened on, so connecting to it is
// refused at once and nobody else takes it meanwhile.
class ClosedPort {
 public:
  ClosedPort();
  ~ClosedPort();
  ClosedPort(const ClosedPort&) = delete;
  ClosedPort& operator=(const ClosedPort&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace lumo::test
