// Paths as the script writes them and as Linux takes them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumo {

// In script text "\" separates path components like "/"; this turns a
// script path into the native one.
std::string nativePath(std::string_view scriptPath);

// Applies the "/"-separated `path` to `components` by its text alone: empty
// components and "." are dropped, ".." takes back the last component.
// Returns false when a ".." finds nothing left to take back; that ".." is
// dropped and the rest still applied, as ".." at the root stays there.
bool resolvePathComponents(std::string_view path, std::vector<std::string>& components);

// The running program's own path; empty when the system does not tell.
std::string thisProgramPath();

}  // namespace lumo
