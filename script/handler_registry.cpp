#include "script/handler_registry.h"

#include <map>
#include <mutex>

namespace lumo {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, Command, std::less<>> commands;
};

// Built on first use, so registrations from static objects of any
// translation unit find it ready.
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

}  // namespace lumo
