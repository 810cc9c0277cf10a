// Paths as the script writes them and as Linux takes them.
#pragma once

#include <string>
#include <string_view>

namespace lumo {

// In script text "\" separates path components like "/"; this turns a
// script path into the native one.
std::string nativePath(std::string_view scriptPath);

}  // namespace lumo
