#include "platform/http_client.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/paths.h"

extern char** environ;

namespace lumo {
namespace {

// Downloads have no time limit of their own (a large installer on a slow
// line may take long); they give up when the server cannot be reached or
// stops sending.
constexpr long kDownloadConnectTimeoutMs = 30000;
constexpr long kStallBytesPerSecond = 1;
constexpr long kStallSeconds = 60;
// A report waits this long for the response headers at most.
constexpr long kReportStallSeconds = 30;

struct EasyDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

Easy newSession() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  Easy curl(curl_easy_init());
  if (!curl) return curl;
  // Workers run transfers on their own threads: no signals for time-outs.
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 10L);
  return curl;
}

// The transport's failures that mean the peer could not be trusted or no
// secure channel could be agreed: such a failure is a refusal that the
// callers record with its reason, not a network hiccup.
bool isSecureChannelFailure(CURLcode code) {
  switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return true;
    default:
      return false;
  }
}

std::string failureText(CURLcode code, const char* detail) {
  return *detail ? std::string(detail) : std::string(curl_easy_strerror(code));
}

bool mustEncode(unsigned char c) {
  if (c <= 0x20 || c >= 0x7F) return true;
  switch (c) {
    case '"': case '<': case '>': case '\\': case '^': case '`': case '{': case '|': case '}':
      return true;
    default:
      return false;
  }
}

// Stops the transfer at the first bytes of the body: a report reads nothing
// back.
size_t refuseBody(char*, size_t, size_t, void*) { return 0; }

size_t writeToFile(char* data, size_t size, size_t count, void* file) {
  return std::fwrite(data, size, count, static_cast<std::FILE*>(file)) * size;
}

}  // namespace

std::string transportUrl(std::string_view url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size());
  for (char ch : url) {
    auto c = static_cast<unsigned char>(ch);
    if (mustEncode(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += ch;
    }
  }
  return out;
}

FetchResult silentGet(std::string_view url, const FetchOptions& options) {
  // Outlives the session that writes into it.
  char detail[CURL_ERROR_SIZE] = "";
  Easy curl = newSession();
  if (!curl) throw std::runtime_error("cannot open an HTTP session");
  std::string address = transportUrl(url);
  curl_easy_setopt(curl.get(), CURLOPT_URL, address.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, options.userAgent.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
  curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_LIMIT, kStallBytesPerSecond);
  curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_TIME, kReportStallSeconds);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, refuseBody);
  curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, detail);

  FetchResult result;
  auto start = std::chrono::steady_clock::now();
  while (result.connectAttempts < std::max(1, options.connectAttempts)) {
    ++result.connectAttempts;
    CURLcode code = curl_easy_perform(curl.get());
    curl_off_t connectTime = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_CONNECT_TIME_T, &connectTime);
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &result.status);
    result.connected = connectTime > 0 || result.status != 0;
    bool connectFailed = code == CURLE_COULDNT_CONNECT || (code == CURLE_OPERATION_TIMEDOUT && !result.connected);
    if (isSecureChannelFailure(code)) result.secureChannelError = failureText(code, detail);
    if (!connectFailed) break;
  }
  result.elapsedMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  return result;
}

bool downloadToFile(std::string_view url, const std::string& path, DownloadedFile kind,
                    std::string* secureChannelError) {
  char detail[CURL_ERROR_SIZE] = "";
  Easy curl = newSession();
  if (!curl) return false;

  // The body goes to a hidden file beside the target and replaces it only
  // when complete.
  std::string::size_type slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  std::string temp = folder + ".lumo-download-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  std::FILE* file = ::fdopen(fd, "wb");
  if (!file) {
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }

  std::string address = transportUrl(url);
  curl_easy_setopt(curl.get(), CURLOPT_URL, address.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, applicationName().c_str());
  curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT_MS, kDownloadConnectTimeoutMs);
  curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_LIMIT, kStallBytesPerSecond);
  curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  curl_easy_setopt(curl.get(), CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, writeToFile);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, file);
  curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, detail);
  CURLcode code = curl_easy_perform(curl.get());
  if (secureChannelError && isSecureChannelFailure(code)) *secureChannelError = failureText(code, detail);
  bool ok = code == CURLE_OK;

  ok = std::fflush(file) == 0 && ok;
  ok = ::fchmod(::fileno(file), kind == DownloadedFile::Program ? 0755 : 0644) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

bool ownedByThisUser(const std::string& path) {
  struct stat info{};
  return ::lstat(path.c_str(), &info) == 0 && info.st_uid == ::geteuid();
}

bool openAddress(std::string_view url) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::string program = "xdg-open";
  std::string argument(url);
  std::vector<char*> argv = {program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  int error = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return false;
  // The opener may live as long as the browser it starts; nobody waits for
  // it, but it must not stay behind as a zombie.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

std::string applicationName() {
  std::string path = thisProgramPath();
  if (path.empty()) return "LumoInstaller";
  std::string name = path.substr(path.rfind('/') + 1);
  // Linux programs carry no extension; a copied Windows name loses its ".exe".
  if (name.size() > 4) {
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (tail == ".exe") name.resize(name.size() - 4);
  }
  return name;
}

}  // namespace lumo
