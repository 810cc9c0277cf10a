// What the registry commands offer to the program itself: ReadReg's and
// WriteReg's work without a script line. The root is named as in a script
// ("HKEY_CURRENT_USER", ...); failures behave as they do for those verbs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "script/command_context.h"

namespace lumo::commands {

// The text ReadReg would put into its variable (a value that does not fit
// its buffer is cut, a missing one is empty); nothing when the key cannot be
// opened, where ReadReg leaves its variable alone.
std::optional<std::string> readRegistryText(std::string_view root, const std::string& key, const std::string& name);

// Writes the string value `name` of `key`, creating the key when needed.
// Throws ScriptError when the store itself fails under the write.
void writeRegistryText(const CommandContext& context, std::string_view root, const std::string& key,
                       const std::string& name, const std::string& text);

}  // namespace lumo::commands
