// The working script: the INI-style file that holds the [var] section (the
// variable store) and the command sections. There is no copy in memory:
// every read goes to the file and every write goes to the file at once.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/handler_registry.h"

namespace lumo {

// Values are cut to this many UTF-16 units (a 260-unit buffer with its
// terminator).
inline constexpr std::size_t kMaxValueLength = 259;

// The value of a [var] key of the working script ($INIPATH), or the empty
// text when it is missing.
std::string GetVariable(std::string_view name);

// Writes a [var] key of the working script. A failed write is ignored, as
// the Windows code ignores it; the old file stays whole.
void SetVariable(std::string_view name, std::string_view value);

// Whether `path` (a native path) is the working script. The script is GBK
// text whatever touches it; commands that edit files by name ask this to
// keep it so.
bool IsWorkingScript(const std::string& path);

// Clears the variables that must never carry over from an earlier run.
void ResetRunVariables();

// One command line of a section, bound to its handler.
struct CommandRecord {
  Handler handler = nullptr;
  std::string arguments;  // before expansion
  std::string verb;
};

using SectionList = std::vector<std::unique_ptr<CommandRecord>>;

// Turns a command line (without its "#") into a record, or nothing when the
// verb names no handler.
std::unique_ptr<CommandRecord> Parse(std::string_view text);

// Appends a record for every known command line of the section whose header
// (for example "[install]") starts a line of the working script.
void ReadSection(std::string_view header, SectionList& list);

}  // namespace lumo
