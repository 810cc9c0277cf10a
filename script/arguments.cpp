#include "script/arguments.h"

#include "script/script_error.h"

namespace lumo {

void throwArgumentCount(std::string_view verb, int expected, std::string_view text) {
  throw ScriptError("[" + std::string(verb) + "] Invalid arguments (nArg!=" + std::to_string(expected) +
                    "): " + std::string(text));
}

void throwMissingOutput(std::string_view verb, std::string_view text) {
  throw ScriptError("[" + std::string(verb) + "] Invalid arguments (Missing operator '->' ): " + std::string(text));
}

std::vector<std::string> SplitArguments(std::string_view text) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t bar = text.find('|', start);
    if (bar == std::string_view::npos) {
      fields.emplace_back(text.substr(start));
      return fields;
    }
    fields.emplace_back(text.substr(start, bar - start));
    start = bar + 1;
  }
}

std::vector<std::string> splitFields(std::string_view verb, std::string_view text, int expected) {
  std::vector<std::string> fields = SplitArguments(text);
  if (static_cast<int>(fields.size()) != expected) throwArgumentCount(verb, expected, text);
  return fields;
}

OutputArguments splitOutput(std::string_view verb, std::string_view text) {
  std::size_t arrow = text.find("->");
  if (arrow == std::string_view::npos) throwMissingOutput(verb, text);
  return {std::string(text.substr(0, arrow)), std::string(text.substr(arrow + 2))};
}

}  // namespace lumo
