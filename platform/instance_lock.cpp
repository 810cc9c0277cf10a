#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/debug_channel.h"
#include "platform/known_folders.h"
#include "platform/sysroot.h"

namespace lumo {
namespace {

// Takes the flock on the file at `path` and keeps it until the process
// ends. False only when another process holds it.
bool holdLock(const std::string& path) {
  // The lock comes before anything else of start-up, so the folder may not
  // exist yet.
  makeFolders(path.substr(0, path.rfind('/') + 1));
  // Read-only is enough for flock, so a lock file that another user created
  // in a shared temporary folder still serves. Close-on-exec, so programs the
  // installer starts never inherit the lock.
  int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    debugOutput("instance lock " + path + ": " + std::strerror(errno));
    return true;
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return false;
    debugOutput("instance lock " + path + ": " + std::strerror(error));
    return true;
  }
  // The descriptor stays open for the rest of the process: the kernel drops
  // the lock when the process ends.
  return true;
}

}  // namespace

std::string instanceLockPath(std::string_view name) {
  // A runtime folder that is set but missing (a stale session variable)
  // would leave every start unguarded; the temporary folder serves then.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  bool usable = runtime && *runtime && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode);
  std::string folder = usable ? std::string(runtime) + "/" : temporaryFolder();
  return folder + std::string(name) + ".lock";
}

std::string machineInstanceLockPath(std::string_view name) {
  return machinePath("/run/") + std::string(name) + ".lock";
}

bool acquireInstanceLock(std::string_view name) {
  if (!holdLock(instanceLockPath(name))) return false;
  // Sessions have runtime folders of their own, so two machine-wide runs
  // from two sessions would both get the session lock and work on the same
  // folders and the same store at once.
  return !runsAsRoot() || holdLock(machineInstanceLockPath(name));
}

}  // namespace lumo
