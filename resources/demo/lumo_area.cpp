// LumoArea.exe of the demo product: decides the region settings of the
// player and records them in the file named by its first argument. The
// installer waits for it and reports when the file did not appear.
#include <chrono>
#include <algorithm>
#include <filesystem>
#include <string>
#include <fstream>
#include <iostream>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: LumoArea.exe AREA-FILE\n";
    return 2;
  }
  // The real program asks a server; the demo takes a moment as it would.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // The script writes Windows-style paths; take either separator.
  std::string name = argv[1];
  std::replace(name.begin(), name.end(), '\\', '/');
  std::filesystem::path file(name);
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << "[area]\r\ncode=cn\r\n";
  return out ? 0 : 1;
}
