// Prints how long the start-up check of the built installer takes: the
// trailer and directory read, then every byte (program, script, payload,
// images) against its checksum. The first round may read from the disk; the
// best round reads from the page cache, as a second start does.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "formats/resource_bundle.h"

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : LUMO_INSTALLER;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "no installer at %s\n", path.c_str());
    return 1;
  }
  double first = 0, best = 1e9;
  for (int round = 0; round < 7; ++round) {
    auto start = std::chrono::steady_clock::now();
    lumo::Result<lumo::ResourceBundle> bundle = lumo::ResourceBundle::open(path);
    lumo::Result<void> verified = bundle ? bundle->verifyAll() : lumo::Result<void>(lumo::Failure{bundle.why()});
    if (!verified) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), verified.why().c_str());
      return 1;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (round == 0) first = seconds;
    best = std::min(best, seconds);
  }
  double megabytes = st.st_size / 1048576.0;
  std::printf("start-up check of %s (%.1f MB): first %.3f s, best %.3f s (%.0f MB/s)\n", path.c_str(), megabytes, first,
              best, megabytes / best);
  return 0;
}
