#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/debug_channel.h"
#include "platform/file_operations.h"
#include "platform/text.h"

extern char** environ;

namespace lumo {
namespace {

// Handles to processes that cannot come to mean another process. Called
// through syscall(): the C library's header for them lacks C++ linkage.
int openPidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

bool sendKill(int pidfd) { return ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0; }

std::string readLink(const std::string& path) {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string fileNameOf(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string readSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  char buffer[4096];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) text.append(buffer, static_cast<std::size_t>(in.gcount()));
  return text;
}

// The path of a process's executable; empty when it cannot be read (another
// user's process). A program whose file was replaced while it ran (an
// update) still carries its path.
std::string executablePath(int pid) {
  std::string exe = readLink("/proc/" + std::to_string(pid) + "/exe");
  constexpr std::string_view deleted = " (deleted)";
  if (exe.size() > deleted.size() && exe.ends_with(deleted)) exe.resize(exe.size() - deleted.size());
  return exe;
}

// The name the process list shows for a process, as described in the header.
std::string executableName(int pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  if (std::string exe = executablePath(pid); !exe.empty()) return fileNameOf(exe);
  std::string commandLine = readSmallFile(base + "/cmdline");
  std::string first = commandLine.substr(0, commandLine.find('\0'));
  if (!first.empty()) return fileNameOf(first);
  std::string comm = readSmallFile(base + "/comm");
  while (!comm.empty() && comm.back() == '\n') comm.pop_back();
  return comm;
}

// A process as the process list shows it; its executable link is read once.
RunningProcess describeProcess(int pid) {
  std::string path = executablePath(pid);
  std::string name = path.empty() ? executableName(pid) : fileNameOf(path);
  return {pid, std::move(name), std::move(path)};
}

// The ids of every process in /proc except this one.
std::vector<int> processIds() {
  std::vector<int> ids;
  DIR* proc = ::opendir("/proc");
  if (!proc) return ids;
  const int self = static_cast<int>(::getpid());
  while (dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || pid <= 0 || pid > INT_MAX || pid == self) continue;
    ids.push_back(static_cast<int>(pid));
  }
  ::closedir(proc);
  return ids;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string searchPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (;;) {
    std::size_t colon = rest.find(':');
    std::string folder(rest.substr(0, colon));
    if (folder.empty()) folder.push_back('.');
    std::string candidate = folder + "/" + name;
    if (isExecutableFile(candidate)) return candidate;
    if (colon == std::string_view::npos) return {};
    rest.remove_prefix(colon + 1);
  }
}

// The started children, by process number. Entries stay for the whole run so
// that a number never comes to mean another process; the reaper thread
// collects each child's exit status as soon as it ends.
class ChildTable {
 public:
  static ChildTable& instance() {
    // Never destroyed: the detached reaper may still use it while the
    // process exits.
    static ChildTable* table = new ChildTable;
    return *table;
  }

  long add(pid_t pid) {
    int pidfd = openPidfd(pid);
    std::lock_guard lock(mutex_);
    long number = next_++;
    children_[number] = Child{pid, pidfd, false, -1};
    startReaper();
    wake();
    return number;
  }

  WaitResult wait(long number, int milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
    std::unique_lock lock(mutex_);
    auto found = children_.find(number);
    if (found == children_.end()) return WaitResult::UnknownProcess;
    const Child& child = found->second;  // map nodes are stable
    for (;;) {
      collect();
      if (child.ended) return WaitResult::Ended;
      auto now = Clock::now();
      if (now >= deadline) return WaitResult::TimedOut;
      // The reaper wakes us at once; the slice only matters if it could not
      // be started.
      ended_.wait_for(lock, std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(100)));
    }
  }

  std::optional<int> pidOf(long number) {
    std::lock_guard lock(mutex_);
    collect();
    auto found = children_.find(number);
    if (found == children_.end() || found->second.ended) return std::nullopt;
    return static_cast<int>(found->second.pid);
  }

  std::optional<int> exitCodeOf(long number) {
    std::lock_guard lock(mutex_);
    collect();
    auto found = children_.find(number);
    if (found == children_.end() || !found->second.ended) return std::nullopt;
    return found->second.exitCode;
  }

 private:
  struct Child {
    pid_t pid;
    int pidfd;  // -1 without pidfd support or once reaped
    bool ended;
    int exitCode;  // -1 when someone else reaped it
  };

  ChildTable() = default;

  void startReaper() {
    if (reaperStarted_) return;
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    try {
      std::thread([this] { reapForever(); }).detach();
      reaperStarted_ = true;
    } catch (const std::system_error&) {
      // Waits still collect the children themselves.
    }
  }

  void wake() {
    if (wakeFd_ < 0) return;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
  }

  // Reaps every child that has ended. Called with the lock held.
  bool collect() {
    bool any = false;
    for (auto& [number, child] : children_) {
      if (child.ended) continue;
      int status = 0;
      pid_t rc = ::waitpid(child.pid, &status, WNOHANG);
      if (rc == 0 || (rc < 0 && errno == EINTR)) continue;
      child.ended = true;
      if (rc == child.pid) child.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      if (child.pidfd >= 0) ::close(child.pidfd);
      child.pidfd = -1;
      any = true;
    }
    if (any) ended_.notify_all();
    return any;
  }

  void reapForever() {
    std::vector<pollfd> fds;
    for (;;) {
      bool withoutPidfd = false;
      fds.assign(1, pollfd{wakeFd_, POLLIN, 0});
      {
        std::lock_guard lock(mutex_);
        for (const auto& [number, child] : children_) {
          if (child.ended) continue;
          if (child.pidfd >= 0)
            fds.push_back(pollfd{child.pidfd, POLLIN, 0});
          else
            withoutPidfd = true;
        }
      }
      if (::poll(fds.data(), fds.size(), withoutPidfd ? 100 : -1) < 0 && errno != EINTR)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      std::uint64_t count;
      [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
      std::lock_guard lock(mutex_);
      collect();
    }
  }

  std::mutex mutex_;
  std::condition_variable ended_;
  std::map<long, Child> children_;
  long next_ = 1;
  int wakeFd_ = -1;
  bool reaperStarted_ = false;
};

// Whether a line of /proc/PID/maps maps the file: by path, or by device and
// inode (the path differs when the file is reached through another name).
bool mapsLineNames(const std::string& line, const std::string& canonical, const struct stat& target) {
  unsigned major = 0, minor = 0;
  unsigned long inode = 0;
  int consumed = 0;
  if (std::sscanf(line.c_str(), "%*s %*s %*s %x:%x %lu %n", &major, &minor, &inode, &consumed) < 3) return false;
  if (inode == 0) return false;
  if (inode == target.st_ino && makedev(major, minor) == target.st_dev) return true;
  return std::string_view(line).substr(static_cast<std::size_t>(consumed)) == canonical;
}

bool mapsFile(int pid, const std::string& canonical, const struct stat& target) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (mapsLineNames(line, canonical, target)) return true;
  }
  return false;
}

bool holdsFileOpen(int pid, const struct stat& target) {
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  DIR* fds = ::opendir(folder.c_str());
  if (!fds) return false;
  bool found = false;
  while (dirent* entry = ::readdir(fds)) {
    if (entry->d_name[0] == '.') continue;
    struct stat st;
    if (::fstatat(::dirfd(fds), entry->d_name, &st, 0) == 0 && st.st_ino == target.st_ino &&
        st.st_dev == target.st_dev) {
      found = true;
      break;
    }
  }
  ::closedir(fds);
  return found;
}

}  // namespace

std::vector<RunningProcess> listProcesses() {
  std::vector<RunningProcess> processes;
  for (int pid : processIds()) {
    RunningProcess process = describeProcess(pid);
    if (!process.name.empty()) processes.push_back(std::move(process));
  }
  return processes;
}

bool executableNameMatches(std::string_view processName, std::string_view wanted) {
  return toLowerAscii(processName) == toLowerAscii(wanted);
}

bool terminateProcess(int pid, std::string_view wantedName) {
  int pidfd = openPidfd(pid);
  if (pidfd < 0) {
    if (errno != ENOSYS) return false;
    return executableNameMatches(executableName(pid), wantedName) && ::kill(pid, SIGKILL) == 0;
  }
  bool done = executableNameMatches(executableName(pid), wantedName) &&
              sendKill(pidfd);
  ::close(pidfd);
  return done;
}

std::vector<std::string> splitCommandLine(std::string_view text) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  const std::size_t n = text.size();
  for (;;) {
    while (i < n && isBlank(text[i])) ++i;
    if (i >= n) return arguments;
    std::string argument;
    bool quoted = false;
    for (;;) {
      std::size_t backslashes = 0;
      while (i < n && text[i] == '\\') {
        ++backslashes;
        ++i;
      }
      bool literal = true;
      if (i < n && text[i] == '"') {
        if (backslashes % 2 == 0) {
          if (quoted && i + 1 < n && text[i + 1] == '"') {
            ++i;  // "" inside quotes: one literal quote, still quoted
          } else {
            literal = false;
            quoted = !quoted;
          }
        }
        backslashes /= 2;
      }
      argument.append(backslashes, '\\');
      if (i >= n || (!quoted && isBlank(text[i]))) break;
      if (literal) argument += text[i];
      ++i;
    }
    arguments.push_back(std::move(argument));
  }
}

std::optional<StartPlan> planStart(const std::string& program, std::string_view parameters,
                                   const std::string& systemFolder) {
  if (program.empty()) return std::nullopt;
  std::string path;
  if (program.find('/') != std::string::npos) {
    if (pathFileExists(program)) path = program;
  } else if (pathFileExists(program)) {
    path = "./" + program;
  } else if (!systemFolder.empty() && pathFileExists(systemFolder + "/" + program)) {
    path = systemFolder + "/" + program;
  } else {
    path = searchPath(program);
  }
  if (path.empty()) return std::nullopt;
  if (!isExecutableFile(path)) {
    // A document or a folder: open it with the desktop's handler for its
    // type. Parameters belong to programs only.
    return StartPlan{"xdg-open", {"xdg-open", path}};
  }
  StartPlan plan{path, {path}};
  for (std::string& argument : splitCommandLine(parameters)) plan.argv.push_back(std::move(argument));
  return plan;
}

long startProcess(const StartPlan& plan, bool show) {
  std::vector<char*> argv;
  for (const std::string& argument : plan.argv) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!show) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  // Descriptors the installer forgot to mark close-on-exec (the instance
  // lock, the log) must not live on in the started program.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  // A session of its own: the started program is no part of the installer
  // and outlives it, whatever happens to the installer's terminal.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

  pid_t pid = 0;
  const bool bareName = plan.program.find('/') == std::string::npos;
  int rc = bareName ? ::posix_spawnp(&pid, plan.program.c_str(), &actions, &attributes, argv.data(), environ)
                    : ::posix_spawn(&pid, plan.program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    debugOutput("cannot start " + plan.program + ": " + std::strerror(rc));
    return 0;
  }
  return ChildTable::instance().add(pid);
}

WaitResult waitForProcess(long number, int milliseconds) { return ChildTable::instance().wait(number, milliseconds); }

std::optional<int> processIdOf(long number) { return ChildTable::instance().pidOf(number); }

std::optional<int> exitCodeOf(long number) { return ChildTable::instance().exitCodeOf(number); }

std::vector<RunningProcess> findProcessesUsingFile(const std::string& path) {
  std::vector<RunningProcess> users;
  struct stat target;
  if (::stat(path.c_str(), &target) != 0) return users;
  char* resolved = ::realpath(path.c_str(), nullptr);
  const std::string canonical = resolved ? resolved : path;
  std::free(resolved);
  for (int pid : processIds()) {
    if (mapsFile(pid, canonical, target) || holdsFileOpen(pid, target)) users.push_back(describeProcess(pid));
  }
  return users;
}

void exitProcessNow(int status) { ::_exit(status); }

}  // namespace lumo
