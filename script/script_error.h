// The standard exception of the script engine: the one error type that
// handlers and the engine throw. It carries nothing but its message text.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace lumo {

class ScriptError : public std::runtime_error {
 public:
  explicit ScriptError(const std::string& message) : std::runtime_error(message) {}
};

// "[Verb] Invalid arguments (nArg!=N): text"
[[noreturn]] void throwArgumentCount(std::string_view verb, int expected, std::string_view text);

// "[Verb] Invalid arguments (Missing operator '->' ): text"
[[noreturn]] void throwMissingOutput(std::string_view verb, std::string_view text);

}  // namespace lumo
