// Handlers of script verbs, found by the exact verb text (letter case
// counts), and the shape of each verb's argument text. Every command family
// registers its own verbs next to their handlers; the engine holds no list
// of verbs.
//
//   namespace {
//   void Move(const std::string& args) { ... }
//   const lumo::CommandRegistration registrations[] = {
//       {"Move", Move, {.fields = 2, .paths = lumo::pathFields(0, 1)}}, ...};
//   }
//
// The argument rules are the one statement of a verb's fields: handlers take
// their field counts from them and the script lint checks lines against them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

// A handler receives the expanded argument text of its line, returns nothing
// and reports failure by throwing ScriptError.
using Handler = void (*)(const std::string& arguments);

// Whether a verb writes a value into the variable named after "->".
enum class Output { None, Required, Optional };

struct ArgumentRules {
  // Number of "|"-separated fields; 0: the text is one value, "|" and all.
  int fields = 0;
  Output output = Output::None;
  // Bit N set: field N names a file or folder (bit 0 for a one-value text).
  std::uint32_t paths = 0;
  // The text from the first of this character on is not counted (the
  // extension of a report).
  char extension = '\0';
  // An empty text is accepted as it is (a place of a list left empty).
  bool mayBeEmpty = false;
};

template <typename... N>
constexpr std::uint32_t pathFields(N... field) {
  return ((std::uint32_t{1} << field) | ...);
}

struct Command {
  std::string verb;
  Handler handler = nullptr;
  ArgumentRules rules;
};

// The handler registered under exactly this verb, or nullptr.
Handler findHandler(std::string_view verb);

// The verb's handler and rules, or nullptr. The pointer stays valid while
// nothing registers a new verb.
const Command* findCommand(std::string_view verb);

// Every registered verb, in the order of their texts.
std::vector<Command> registeredCommands();

// Registers a verb with its rules; a second registration replaces the first.
void registerCommand(std::string_view verb, Handler handler, const ArgumentRules& rules);

// Replaces the handler of a verb and keeps the rules it has (a new verb
// gets the default rules): a stand-in handler must not change the fields
// that the verb's real handler counts.
void registerHandler(std::string_view verb, Handler handler);

struct CommandRegistration {
  CommandRegistration(const char* verb, Handler handler, const ArgumentRules& rules = {}) {
    registerCommand(verb, handler, rules);
  }
};

}  // namespace lumo
