// Prints the size of the default installer (build/LumoInstaller) and of its
// parts: the program it starts with, and its resources by type; beside them
// the bare program as linked, debug information included.
//
//   build/bench/size_bench [INSTALLER]
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "formats/resource_bundle.h"

namespace {

double megabytes(std::uintmax_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

void printLine(const char* what, std::uintmax_t bytes) {
  std::printf("%-34s %12ju bytes %8.2f MB\n", what, bytes, megabytes(bytes));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string build = LUMO_BUILD_DIR;
  const std::string installer = argc > 1 ? argv[1] : build + "/LumoInstaller";
  std::error_code ec;
  auto installerBytes = std::filesystem::file_size(installer, ec);
  if (ec) {
    std::fprintf(stderr, "cannot read %s\n", installer.c_str());
    return 1;
  }
  lumo::Result<lumo::ResourceBundle> opened = lumo::ResourceBundle::open(installer);
  if (!opened) {
    std::fprintf(stderr, "%s\n", opened.why().c_str());
    return 1;
  }
  const lumo::ResourceBundle& bundle = *opened;
  std::map<std::string, std::uintmax_t> byType;
  for (const lumo::ResourceEntry& entry : bundle.entries()) byType[entry.type] += entry.size;

  printLine("installer", installerBytes);
  printLine("  program", bundle.programSize());
  for (const auto& [type, bytes] : byType) printLine(("  resources " + type).c_str(), bytes);
  if (auto bare = std::filesystem::file_size(build + "/lumo-installer-program", ec); !ec)
    printLine("bare program, as linked", bare);
  if (auto debug = std::filesystem::file_size(build + "/LumoInstaller.debug", ec); !ec)
    printLine("debug information, kept apart", debug);
  return 0;
}
