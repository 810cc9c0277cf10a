#include "platform/paths.h"

#include <unistd.h>

#include <algorithm>

namespace lumo {

std::string nativePath(std::string_view scriptPath) {
  std::string path(scriptPath);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

bool resolvePathComponents(std::string_view path, std::vector<std::string>& components) {
  bool inside = true;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = std::min(path.find('/', start), path.size());
    std::string_view part = path.substr(start, slash - start);
    if (part == "..") {
      if (components.empty())
        inside = false;
      else
        components.pop_back();
    } else if (!part.empty() && part != ".") {
      components.emplace_back(part);
    }
    start = slash + 1;
  }
  return inside;
}

std::string thisProgramPath() {
  std::string buffer(4096, '\0');
  ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) == buffer.size()) return {};
  buffer.resize(static_cast<std::size_t>(length));
  return buffer;
}

}  // namespace lumo
