#include "platform/paths.h"

#include <algorithm>

namespace lumo {

std::string nativePath(std::string_view scriptPath) {
  std::string path(scriptPath);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

}  // namespace lumo
