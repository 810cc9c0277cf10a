// Resources carried inside the installer executable: the program, then the
// entries (type, id, bytes), then a trailer (magic, directory offset, count,
// checksum). The reader checks the trailer, the directory and every size
// before it hands out a byte; a damaged or truncated bundle reads as a
// bundle without resources.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

struct ResourceEntry {
  std::string type;     // "INI", "DATA", "PNG", "ICON"
  std::uint32_t id = 0;
  std::uint64_t offset = 0;  // of the bytes, from the start of the file
  std::uint64_t size = 0;
};

class ResourceBundle {
 public:
  // The bundle of the file at `path`; empty when the file has none or it is
  // damaged (`error()` then says why).
  static ResourceBundle open(const std::string& path);

  // The bundle of the running executable (read once, then cached).
  static const ResourceBundle& ofThisProgram();

  // Makes ofThisProgram() read another file from now on; for tests that run
  // commands in-process against a packed installer.
  static void useProgramFileForTesting(const std::string& path);

  const std::string& path() const { return path_; }
  const std::vector<ResourceEntry>& entries() const { return entries_; }
  const std::string& error() const { return error_; }
  // Size of the program part (everything before the first entry).
  std::uint64_t programSize() const { return programSize_; }

  const ResourceEntry* find(std::string_view type, std::uint32_t id) const;

  // The bytes of a resource (meant for small ones: scripts, images).
  std::optional<std::string> load(std::string_view type, std::uint32_t id) const;

  // Copies a resource into the open file descriptor without holding it in
  // memory. Returns false on a read or write failure.
  bool copyTo(std::string_view type, std::uint32_t id, int fd) const;

 private:
  std::string path_;
  std::vector<ResourceEntry> entries_;
  std::string error_;
  std::uint64_t programSize_ = 0;
};

}  // namespace lumo
