#include "script/expansion.h"

#include <iterator>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "script/run_environment.h"
#include "script/working_script.h"

namespace lumo {
namespace {

// A stretch of the text being expanded. A folder put in by a macro is final:
// a home such as "/home/john@corp.example" or a folder holding "$KERNEL" is
// a name, and reading its "@" or "$" as script would change the path that
// the command gets (and that RMDir removes).
struct Piece {
  std::string text;
  bool folder = false;
};

// Replaces every occurrence of each macro, one macro after the other, in the
// stretches that did not come from a folder.
void replaceMacros(std::vector<Piece>& pieces) {
  const RunEnvironment& env = runEnvironment();
  const std::string install = installFolder();
  const std::string* folders[] = {&env.installer, &install,     &env.kernel,  &env.desktop, &env.system,
                                  &env.smPrograms, &env.appData, &env.iniPath, &env.curPath, &env.curDesktop};
  static_assert(std::size(folders) == std::size(kFolderMacros));
  for (std::size_t i = 0; i < std::size(kFolderMacros); ++i) {
    const std::string_view macro = kFolderMacros[i];
    std::vector<Piece> result;
    for (Piece& piece : pieces) {
      if (piece.folder || piece.text.find(macro) == std::string::npos) {
        result.push_back(std::move(piece));
        continue;
      }
      std::string_view text = piece.text;
      for (std::size_t at = text.find(macro); at != std::string_view::npos; at = text.find(macro)) {
        if (at > 0) result.push_back({std::string(text.substr(0, at)), false});
        result.push_back({*folders[i], true});
        text.remove_prefix(at + macro.size());
      }
      if (!text.empty()) result.push_back({std::string(text), false});
    }
    pieces = std::move(result);
  }
}

// Replaces "@name" references until none is left outside the folders; the
// value of a variable is searched again, so a reference inside a value is
// expanded in turn. A name ends where a folder begins. Returns false when
// the budget of replacements runs out.
bool replaceVariables(std::vector<Piece>& pieces, int& budget) {
  for (Piece& piece : pieces) {
    if (piece.folder) continue;
    while (std::optional<VariableReference> reference = findVariableReference(piece.text)) {
      if (budget-- == 0) return false;
      std::string value = GetVariable(reference->name);
      piece.text = piece.text.substr(0, reference->begin) + value + piece.text.substr(reference->end);
    }
  }
  return true;
}

bool holdsMacroSign(const std::vector<Piece>& pieces) {
  for (const Piece& piece : pieces) {
    if (!piece.folder && piece.text.find('$') != std::string::npos) return true;
  }
  return false;
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

bool Expand(std::string& text, std::string_view marks, bool& marksLeft) {
  std::vector<Piece> pieces{{text, false}};
  int budget = kMaxVariableReplacements;
  for (int pass = 0; pass < 2; ++pass) {
    replaceMacros(pieces);
    if (!replaceVariables(pieces, budget)) return false;
    // A variable whose value starts with a macro leaves a "$" behind; one
    // more pass resolves it, never a third.
    if (!holdsMacroSign(pieces)) break;
  }
  std::string expanded;
  marksLeft = false;
  for (const Piece& piece : pieces) {
    expanded += piece.text;
    if (!piece.folder && piece.text.find_first_of(marks) != std::string::npos) marksLeft = true;
  }
  text = std::move(expanded);
  return true;
}

bool Expand(std::string& text) {
  bool marksLeft = false;
  return Expand(text, "", marksLeft);
}

}  // namespace lumo
