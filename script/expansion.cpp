#include "script/expansion.h"

#include <string_view>

#include "platform/text.h"
#include "script/run_environment.h"
#include "script/working_script.h"

namespace lumo {
namespace {

// Replaces every occurrence of each macro, one macro after the other. The
// order matters: "$INSTALL" is a prefix of "$INSTALLER".
void replaceMacros(std::string& text) {
  const RunEnvironment& env = runEnvironment();
  const std::string install = installFolder();
  const std::pair<std::string_view, const std::string*> macros[] = {
      {"$INSTALLER", &env.installer}, {"$INSTALL", &install},           {"$KERNEL", &env.kernel},
      {"$DESKTOP", &env.desktop},     {"$SYSTEM", &env.system},         {"$SMPROGRAMS", &env.smPrograms},
      {"$APPDATA", &env.appData},     {"$INIPATH", &env.iniPath},       {"$CURPATH", &env.curPath},
      {"$CURDESKTOP", &env.curDesktop},
  };
  for (const auto& [macro, folder] : macros) {
    if (text.find(macro) != std::string::npos) text = replaceAll(text, macro, *folder);
  }
}

// Replaces "@name" references until none is left; the value of a variable
// is searched again, so a reference inside a value is expanded in turn.
// Returns false when the budget of replacements runs out.
bool replaceVariables(std::string& text, int& budget) {
  for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@')) {
    if (budget-- == 0) return false;
    std::size_t end = text.find_first_of("\\;'|", at);
    if (end == std::string::npos) end = text.size();
    std::string_view reference = trim(std::string_view(text).substr(at, end - at));
    std::string value = GetVariable(reference.substr(1));
    text = text.substr(0, at) + value + text.substr(end);
  }
  return true;
}

}  // namespace

bool Expand(std::string& text) {
  const std::string original = text;
  int budget = kMaxVariableReplacements;
  for (int pass = 0; pass < 2; ++pass) {
    replaceMacros(text);
    if (!replaceVariables(text, budget)) {
      text = original;
      return false;
    }
    // A variable whose value starts with a macro leaves a "$" behind; one
    // more pass resolves it, never a third.
    if (text.empty() || text.find('$') == std::string::npos) break;
  }
  return true;
}

}  // namespace lumo
