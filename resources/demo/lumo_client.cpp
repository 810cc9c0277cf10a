// LumoClient.exe of the demo product: the player's main program. It shows
// its name and the version from server.ini beside it, in a terminal when no
// display is there.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

std::string versionBeside(const std::filesystem::path& program) {
  std::ifstream ini(program.parent_path() / "server.ini");
  std::string line;
  while (std::getline(ini, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("REAL_VERSION=", 0) == 0) return line.substr(13);
  }
  return "unknown";
}

}  // namespace

int main(int, char** argv) {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) self = argv[0];
  std::cout << "Vexta影音 " << versionBeside(self) << "\n";
  return 0;
}
