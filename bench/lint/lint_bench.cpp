// Prints how long the lint takes on scripts whose [var] holds a chain of
// references "v0=@v1", "v1=@v2", ...: a plain chain, and one whose last
// variable leads back to the first (every variable then lies on a loop).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "commands/families.h"
#include "lint.h"

namespace {

std::string chainScript(int count, bool loop) {
  std::string script = "[var]\r\n";
  for (int i = 0; i + 1 < count; ++i) script += "v" + std::to_string(i) + "=@v" + std::to_string(i + 1) + "\r\n";
  script += "v" + std::to_string(count - 1) + "=" + (loop ? "@v0" : "end") + "\r\n";
  return script + "[installinit]\r\n#Kill @v0\r\n[install]\r\n#NotifyOK\r\n";
}

}  // namespace

int main() {
  // The lint checks each line against the verbs it knows.
  lumo::commands::registerCommandFamilies();
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumo-lint-bench-" + std::to_string(::getpid()) + ".ini";
  for (int count : {8000, 30000, 100000}) {
    for (bool loop : {false, true}) {
      std::ofstream(path, std::ios::binary) << chainScript(count, loop);
      double best = 1e9;
      std::size_t findings = 0;
      for (int round = 0; round < 3; ++round) {
        auto start = std::chrono::steady_clock::now();
        findings = lumo::lintScript(path).size();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      }
      std::printf("%6d variables, %s: best %.3f s, %zu findings (target for 30,000: well under 1 s)\n", count,
                  loop ? "one loop through all" : "a plain chain  ", best, findings);
    }
  }
  ::unlink(path.c_str());
  return 0;
}
