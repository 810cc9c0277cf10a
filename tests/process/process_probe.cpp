// process_probe REPORT [ARGUMENT...]
// Writes to REPORT, each field ended by a NUL: where its standard output
// goes, how many descriptors above 2 it inherited, then every ARGUMENT.
#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  char target[PATH_MAX];
  ssize_t n = readlink("/proc/self/fd/1", target, sizeof target);
  std::string report(target, n > 0 ? static_cast<std::size_t>(n) : 0);
  report += '\0';

  int inherited = 0;
  if (DIR* fds = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(fds)) {
      int fd = std::atoi(entry->d_name);
      if (entry->d_name[0] != '.' && fd > 2 && fd != dirfd(fds)) ++inherited;
    }
    closedir(fds);
  }
  report += std::to_string(inherited);
  report += '\0';
  for (int i = 2; i < argc; ++i) {
    report += argv[i];
    report += '\0';
  }

  // Written aside and renamed, so a reader never sees half a report.
  std::string partial = std::string(argv[1]) + ".partial";
  FILE* out = std::fopen(partial.c_str(), "wb");
  if (!out) return 3;
  std::fwrite(report.data(), 1, report.size(), out);
  if (std::fclose(out) != 0) return 3;
  return std::rename(partial.c_str(), argv[1]) == 0 ? 0 : 3;
}
