#include "script/expansion.h"

#include <iterator>
#include <string_view>

#include "platform/text.h"
#include "script/run_environment.h"
#include "script/working_script.h"

namespace lumo {
namespace {

// Replaces every occurrence of each macro, one macro after the other.
void replaceMacros(std::string& text) {
  const RunEnvironment& env = runEnvironment();
  const std::string install = installFolder();
  const std::string* folders[] = {&env.installer, &install,     &env.kernel,  &env.desktop, &env.system,
                                  &env.smPrograms, &env.appData, &env.iniPath, &env.curPath, &env.curDesktop};
  static_assert(std::size(folders) == std::size(kFolderMacros));
  for (std::size_t i = 0; i < std::size(kFolderMacros); ++i) {
    if (text.find(kFolderMacros[i]) != std::string::npos) text = replaceAll(text, kFolderMacros[i], *folders[i]);
  }
}

// Replaces "@name" references until none is left; the value of a variable
// is searched again, so a reference inside a value is expanded in turn.
// Returns false when the budget of replacements runs out.
bool replaceVariables(std::string& text, int& budget) {
  while (std::optional<VariableReference> reference = findVariableReference(text)) {
    if (budget-- == 0) return false;
    std::string value = GetVariable(reference->name);
    text = text.substr(0, reference->begin) + value + text.substr(reference->end);
  }
  return true;
}

}  // namespace

std::optional<VariableReference> findVariableReference(std::string_view text, std::size_t from) {
  std::size_t at = text.find('@', from);
  if (at == std::string_view::npos) return std::nullopt;
  std::size_t end = text.find_first_of("\\;'|", at);
  if (end == std::string_view::npos) end = text.size();
  std::string_view reference = trim(text.substr(at, end - at));
  return VariableReference{at, end, reference.substr(1)};
}

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
