// What each verb of the script language does, for the people who write
// scripts: `lumo-pack verbs --markdown` joins these texts with the argument
// rules that the families register, and docs/verbs.md is its output. A verb
// registered without a text here is a fault that a test names.
#pragma once

#include <string_view>
#include <vector>

namespace lumo::commands {

struct VerbDoc {
  std::string_view verb;
  std::string_view syntax;  // the argument text, as a line writes it after the verb
  std::string_view does;
  std::string_view writes;  // what it changes on the machine or in [var]; empty: nothing
  std::string_view errors;  // what fails the line (an installation then rolls back)
};

// Every verb's text, in the order of the families.
const std::vector<VerbDoc>& verbDocs();

// The text of `verb` (exact letter case), or nullptr.
const VerbDoc* findVerbDoc(std::string_view verb);

}  // namespace lumo::commands
