// What the process commands offer to the program itself.
#pragma once

#include <optional>
#include <string>

#include "script/command_context.h"

namespace lumo::commands {

// Starts `exe` (a script path, "\" allowed) with `parameters` as the verb Run
// does, and waits up to `waitMilliseconds` for it to end. Returns its process
// number, 0 when it could not be started, nothing when a silent run leaves
// the product's client alone. Throws ScriptError when neither `exe` nor the
// system folder holds the program.
std::optional<long> runProgram(const CommandContext& context, const std::string& exe, const std::string& parameters,
                               int waitMilliseconds, bool show);

// The same for this process's run (currentCommandContext()).
std::optional<long> runProgram(const std::string& exe, const std::string& parameters, int waitMilliseconds,
                               bool show);

}  // namespace lumo::commands
