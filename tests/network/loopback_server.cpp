#include "network/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>

namespace lumo::test {
namespace {

constexpr auto kLifetime = std::chrono::seconds(60);
constexpr int kReadTimeoutMs = 3000;

int bindLoopback(int& port, int backlog) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      (backlog >= 0 && ::listen(fd, backlog) != 0) ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot bind a loopback port");
  }
  port = ntohs(address.sin_port);
  return fd;
}

void sendAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;  // the client may hang up without reading the body
    sent += static_cast<std::size_t>(n);
  }
}

}  // namespace

LoopbackServer::LoopbackServer() {
  listener_ = bindLoopback(port_, 16);
  thread_ = std::thread([this] { run(); });
}

LoopbackServer::~LoopbackServer() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
}

std::string LoopbackServer::base() const { return "http://127.0.0.1:" + std::to_string(port_); }

void LoopbackServer::serve(const std::string& target, const std::string& body) {
  std::lock_guard lock(mutex_);
  bodies_[target] = body;
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::string> LoopbackServer::requestLines() const {
  std::vector<std::string> lines;
  for (const auto& request : requests()) lines.push_back(request.line);
  return lines;
}

void LoopbackServer::run() {
  auto deadline = std::chrono::steady_clock::now() + kLifetime;
  while (!stop_ && std::chrono::steady_clock::now() < deadline) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, 50) <= 0) continue;
    int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    handle(client);
    ::close(client);
  }
}

void LoopbackServer::handle(int client) {
  std::string received;
  std::size_t end;
  while ((end = received.find("\r\n\r\n")) == std::string::npos) {
    pollfd readable{client, POLLIN, 0};
    if (::poll(&readable, 1, kReadTimeoutMs) <= 0) return;
    char buffer[4096];
    ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    received.append(buffer, static_cast<std::size_t>(n));
  }

  RecordedRequest request;
  std::size_t lineEnd = received.find("\r\n");
  request.line = received.substr(0, lineEnd);
  for (std::size_t at = lineEnd + 2; at < end;) {
    std::size_t next = received.find("\r\n", at);
    std::string header = received.substr(at, next - at);
    if (std::size_t colon = header.find(':'); colon != std::string::npos) {
      std::string name = header.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::size_t value = header.find_first_not_of(' ', colon + 1);
      request.headers[name] = value == std::string::npos ? "" : header.substr(value);
    }
    at = next + 2;
  }

  std::string target;
  if (std::size_t first = request.line.find(' '); first != std::string::npos)
    target = request.line.substr(first + 1, request.line.rfind(' ') - first - 1);

  std::string response;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    auto it = bodies_.find(target);
    std::string body = it == bodies_.end() ? "not here" : it->second;
    response = std::string(it == bodies_.end() ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK") +
               "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
  }
  sendAll(client, response);
}

ClosedPort::ClosedPort() { fd_ = bindLoopback(port_, -1); }

ClosedPort::~ClosedPort() { ::close(fd_); }

}  // namespace lumo::test
