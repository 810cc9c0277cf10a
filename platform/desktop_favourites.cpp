#include "platform/desktop_favourites.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/atomic_file.h"
#include "platform/debug_channel.h"
#include "platform/sysroot.h"
#include "platform/text.h"

extern char** environ;

namespace lumo {
namespace {

constexpr const char* kSchema = "org.gnome.shell";
constexpr const char* kKey = "favorite-apps";
// gsettings answers at once or not at all (a bus that does not answer).
constexpr int kTimeLimitMs = 5000;

struct Output {
  int status = -1;
  std::string out;
};

std::int64_t nowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Runs a program found on PATH, without a shell, and collects its standard
// output. A program that does not end within the time limit is killed.
std::optional<Output> runTool(const std::vector<std::string>& argv) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    return std::nullopt;
  }
  Output result;
  std::int64_t deadline = nowMs() + kTimeLimitMs;
  bool timedOut = false;
  for (;;) {
    std::int64_t left = deadline - nowMs();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd watch{pipeFds[0], POLLIN, 0};
    int ready = ::poll(&watch, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[4096];
    ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeFds[0]);
  if (timedOut) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timedOut) return std::nullopt;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::vector<std::string> applicationFolders() {
  std::vector<std::string> folders{userDataFolder() + "/applications"};
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t colon = list.find(':', start);
    std::string dir = list.substr(start, colon - start);
    if (!dir.empty()) folders.push_back(dir + "/applications");
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  for (std::string& folder : folders) {
    while (folder.size() > 1 && folder.ends_with("//")) folder.pop_back();
  }
  return folders;
}

bool sessionOffersFavourites() {
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!bus || !*bus) return false;
  std::optional<Output> keys = runTool({"gsettings", "list-keys", kSchema});
  if (!keys || keys->status != 0) return false;
  std::istringstream lines(keys->out);
  std::string line;
  while (std::getline(lines, line))
    if (trim(line) == kKey) return true;
  return false;
}

// The id under which the favourites can name the entry, installing a copy
// in the user's applications folder when the entry lives elsewhere.
std::string installedId(const std::string& desktopFile) {
  std::string id = desktopFileId(desktopFile);
  if (!id.empty()) return id;
  std::string name = desktopFile.substr(desktopFile.rfind('/') + 1);
  std::string folder = userDataFolder() + "/applications";
  std::ifstream in(desktopFile, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  if (!in) return "";
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  if (!replaceFileAtomically(folder + "/" + name, content.str(), 0755)) return "";
  return name;
}

}  // namespace

std::string desktopFileId(std::string_view desktopFile) {
  for (const std::string& folder : applicationFolders()) {
    if (desktopFile.size() > folder.size() + 1 && desktopFile.starts_with(folder) &&
        desktopFile[folder.size()] == '/')
      return replaceAll(desktopFile.substr(folder.size() + 1), "/", "-");
  }
  return "";
}

std::vector<std::string> parseStringArray(std::string_view text) {
  std::vector<std::string> items;
  std::size_t i = 0;
  while (i < text.size()) {
    char quote = text[i];
    if (quote != '\'' && quote != '"') {
      ++i;
      continue;
    }
    std::string item;
    for (++i; i < text.size() && text[i] != quote; ++i) {
      if (text[i] != '\\' || i + 1 >= text.size()) {
        item += text[i];
        continue;
      }
      char escaped = text[++i];
      switch (escaped) {
        case 'n': item += '\n'; break;
        case 't': item += '\t'; break;
        case 'u':
          if (i + 4 < text.size()) {
            appendUtf8(item, static_cast<char32_t>(std::strtoul(std::string(text.substr(i + 1, 4)).c_str(), nullptr, 16)));
            i += 4;
          }
          break;
        default: item += escaped;
      }
    }
    ++i;  // the closing quote
    items.push_back(std::move(item));
  }
  return items;
}

std::string formatStringArray(const std::vector<std::string>& items) {
  if (items.empty()) return "@as []";
  std::string text = "[";
  for (std::size_t n = 0; n < items.size(); ++n) {
    if (n > 0) text += ", ";
    text += '\'';
    for (char c : items[n]) {
      if (c == '\'' || c == '\\') text += '\\';
      text += c;
    }
    text += '\'';
  }
  return text + "]";
}

PinOutcome pinToFavourites(const std::string& desktopFile) {
  if (!sessionOffersFavourites()) return PinOutcome::NotOffered;
  std::string id = installedId(desktopFile);
  if (id.empty()) return PinOutcome::Failed;
  std::optional<Output> current = runTool({"gsettings", "get", kSchema, kKey});
  if (!current || current->status != 0) return PinOutcome::Failed;
  std::vector<std::string> favourites = parseStringArray(current->out);
  if (std::find(favourites.begin(), favourites.end(), id) != favourites.end()) return PinOutcome::AlreadyPinned;
  favourites.push_back(id);
  std::optional<Output> saved = runTool({"gsettings", "set", kSchema, kKey, formatStringArray(favourites)});
  if (!saved || saved->status != 0) return PinOutcome::Failed;
  debugOutput("pinned " + id + " to the favourites");
  return PinOutcome::Pinned;
}

}  // namespace lumo
