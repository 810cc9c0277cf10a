#include "app/progress_stream.h"

#include <cstdio>

#include "platform/atomic_file.h"

namespace lumo {

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

ProgressStream::ProgressStream(int fd) : fd_(fd) {}

void ProgressStream::progress(std::string_view phase, int percent, std::string_view text) {
  write("{\"event\":\"progress\",\"phase\":" + jsonString(phase) + ",\"percent\":" + std::to_string(percent) +
        ",\"text\":" + jsonString(text) + "}\n");
}

void ProgressStream::unpacked(std::uint64_t done, std::uint64_t total) {
  write("{\"event\":\"unpack\",\"done\":" + std::to_string(done) + ",\"total\":" + std::to_string(total) + "}\n");
}

void ProgressStream::end(int status) { write("{\"event\":\"end\",\"status\":" + std::to_string(status) + "}\n"); }

void ProgressStream::write(const std::string& line) {
  std::lock_guard lock(mutex_);
  (void)writeAll(fd_, line);
}

}  // namespace lumo
