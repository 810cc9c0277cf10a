// The modes that answer a question about the installer and end: --help,
// --version, --list, --check, and the modes whose work is not in this
// program yet. None of them opens a window, takes the single-instance lock
// or writes a file; what they say goes to stdout, what goes wrong to stderr.
#pragma once

#include <optional>
#include <string_view>

#include "app/command_line.h"

namespace lumo {

// The status of a mode that answers and ends, or nothing for the modes
// that install or uninstall.
std::optional<int> runInformationMode(const CommandLine& line);

// The value of a [var] key in script text (GBK, as scripts are stored), or
// nothing when the key is missing; keys match in any letter case.
std::optional<std::string> scriptVariable(std::string_view script, std::string_view key);

}  // namespace lumo
