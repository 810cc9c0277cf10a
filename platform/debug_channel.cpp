#include "platform/debug_channel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace lumo {

void debugOutput(std::string_view text) {
  static const bool enabled = [] {
    const char* value = std::getenv("LUMO_DEBUG");
    return value && std::strcmp(value, "1") == 0;
  }();
  if (!enabled) return;
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::fwrite(text.data(), 1, text.size(), stderr);
  if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
}

}  // namespace lumo
