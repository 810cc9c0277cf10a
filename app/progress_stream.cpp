#include "app/progress_stream.h"

#include <cstdio>

#include "platform/atomic_file.h"
#include "platform/text.h"

namespace lumo {

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
