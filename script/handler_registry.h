// Handlers of script verbs, found by the exact verb text (letter case
// counts), and the shape of each verb's argument text. Every command family
// states its own verbs next to their handlers in a registration function;
// the program calls one function that runs them all, so no verb depends on
// what the linker keeps. The engine holds no list of verbs.
//
//   void registerFileCommands() {
//     registerCommand("Move", Move, {.fields = 2, .paths = pathFields(0, 1)});
//   }
//
// The argument rules are the one statement of a verb's fields: the
// dispatcher reads a line by them before the handler sees it, and the
// script lint checks lines against them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/command_context.h"

namespace lumo {

// A handler receives its run and the expanded argument text of its line
// read by the verb's rules, returns nothing and reports failure by throwing
// ScriptError.
using Handler = void (*)(const CommandContext& context, const CommandArguments& arguments);

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
  // An empty text is accepted as it is (a place of a list left empty): the
  // line is logged and its handler not called.
  bool mayBeEmpty = false;
  // The count error of a verb with an output names the variable right after
  // the colon, without the blank (the wording scripts have always seen).
  bool countErrorWithoutBlank = false;
  // Whether running the line may change the machine (files, the registry,
  // processes, the network). A dry run prints such lines instead of running
  // them and runs the others, so conditions see what they would; a verb is
  // taken to change the machine unless its registration says otherwise.
  bool changesMachine = true;
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

// Reads a line's expanded argument text by the verb's rules: the output
// after "->", the extension, the fields. Throws ScriptError with the verb's
// wording when the text does not fit ("Missing operator '->'", "nArg!=N";
// a verb with a required output names its variable in the count error).
// Nothing for an empty text the verb accepts as it is.
std::optional<CommandArguments> readArguments(std::string_view verb, const ArgumentRules& rules,
                                              std::string_view text);

// Reads the text by the verb's rules and calls its handler with `context`:
// what a line does after its expansion and its log line. Throws
// std::logic_error for a verb nobody registered.
void callCommand(const CommandContext& context, std::string_view verb, std::string_view text);

}  // namespace lumo
