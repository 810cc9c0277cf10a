// Progress for programs that run the installer ("--progress-fd N"): one JSON
// object per line, UTF-8, on a descriptor the caller opened.
//
//   {"event":"progress","phase":"install","percent":20,"text":"..."}
//   {"event":"unpack","done":1048576,"total":73400320}
//   {"event":"end","status":0}
//
// Each line is written whole by one write, whichever thread sends it. A
// reader that has gone away costs the run nothing: the writes fail quietly.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace lumo {

class ProgressStream {
 public:
  explicit ProgressStream(int fd);

  // A progress message of the section `phase` ("install", "uninstall", ...).
  void progress(std::string_view phase, int percent, std::string_view text);
  // Bytes that Out has unpacked; may come from several threads.
  void unpacked(std::uint64_t done, std::uint64_t total);
  // The last line: the exit status of the process.
  void end(int status);

 private:
  void write(const std::string& line);

  int fd_;
  std::mutex mutex_;
};

}  // namespace lumo
