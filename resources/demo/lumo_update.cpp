// LumoUpdate.exe of the demo product: prepares the player's update cache in
// the folder named by its first argument and ends. The installer starts it
// without waiting for it.
#include <algorithm>
#include <filesystem>
#include <string>
#include <fstream>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string name = argv[1];
  std::replace(name.begin(), name.end(), '\\', '/');  // either separator
  std::filesystem::path folder(name);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::ofstream(folder / "update.ini", std::ios::binary | std::ios::trunc) << "[update]\r\nchecked=1\r\n";
  return 0;
}
