#include "script/handler_registry.h"

#include <map>
#include <mutex>
#include <stdexcept>

#include "platform/text.h"
#include "script/arguments.h"
#include "script/script_error.h"

namespace lumo {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, Command, std::less<>> commands;
};

// Built on first use.
Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

Handler findHandler(std::string_view verb) {
  const Command* command = findCommand(verb);
  return command ? command->handler : nullptr;
}

const Command* findCommand(std::string_view verb) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.commands.find(verb);
  return it == r.commands.end() ? nullptr : &it->second;
}

std::vector<Command> registeredCommands() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::vector<Command> commands;
  for (const auto& [verb, command] : r.commands) commands.push_back(command);
  return commands;
}

void registerCommand(std::string_view verb, Handler handler, const ArgumentRules& rules) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.commands[std::string(verb)] = Command{std::string(verb), handler, rules};
}

void registerHandler(std::string_view verb, Handler handler) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  Command& command = r.commands[std::string(verb)];
  command.verb = std::string(verb);
  command.handler = handler;
}

std::optional<CommandArguments> readArguments(std::string_view verb, const ArgumentRules& rules,
                                              std::string_view text) {
  if (rules.mayBeEmpty) {
    text = trim(text);
    if (text.empty()) return std::nullopt;
  }
  CommandArguments arguments;
  std::string_view input = text;
  if (rules.output != Output::None) {
    std::size_t arrow = text.find("->");
    if (arrow != std::string_view::npos) {
      input = text.substr(0, arrow);
      arguments.output = std::string(text.substr(arrow + 2));
    } else if (rules.output == Output::Required) {
      throwMissingOutput(verb, text);
    }
  }
  if (rules.extension != '\0') {
    if (std::size_t at = input.find(rules.extension); at != std::string_view::npos) {
      arguments.extension = std::string(input.substr(at + 1));
      input = input.substr(0, at);
    }
  }
  arguments.text = std::string(input);
  if (rules.fields > 0) {
    arguments.fields = SplitArguments(input);
    if (static_cast<int>(arguments.fields.size()) != rules.fields) {
      if (rules.output != Output::Required) throwArgumentCount(verb, rules.fields, input);
      if (!rules.countErrorWithoutBlank) throwArgumentCount(verb, rules.fields, *arguments.output);
      throw ScriptError("[" + std::string(verb) + "] Invalid arguments (nArg!=" + std::to_string(rules.fields) +
                        "):" + *arguments.output);
    }
  }
  return arguments;
}

void callCommand(const CommandContext& context, std::string_view verb, std::string_view text) {
  const Command* command = findCommand(verb);
  if (!command || !command->handler) throw std::logic_error("no handler registered for " + std::string(verb));
  // Copies: the handler may outlive a later registration of the same verb.
  const Handler handler = command->handler;
  const ArgumentRules rules = command->rules;
  if (std::optional<CommandArguments> arguments = readArguments(verb, rules, text)) handler(context, *arguments);
}

}  // namespace lumo
