// Handlers of script verbs, found by the exact verb text (letter case
// counts). Every command family registers its own verbs next to their
// handlers; the engine holds no list of verbs.
//
//   namespace {
//   void Delete(const std::string& args) { ... }
//   const lumo::CommandRegistration registrations[] = {{"Delete", Delete}, ...};
//   }
#pragma once

#include <string>
#include <string_view>

namespace lumo {

// A handler receives the expanded argument text of its line, returns nothing
// and reports failure by throwing ScriptError.
using Handler = void (*)(const std::string& arguments);

// The handler registered under exactly this verb, or nullptr.
Handler findHandler(std::string_view verb);

// Registers a verb; a second registration of the same verb replaces the first.
void registerHandler(std::string_view verb, Handler handler);

struct CommandRegistration {
  CommandRegistration(const char* verb, Handler handler) { registerHandler(verb, handler); }
};

}  // namespace lumo
