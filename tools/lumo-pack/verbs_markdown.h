// docs/verbs.md: every registered verb with its argument rules and the text
// of commands/verb_docs.
#pragma once

#include <string>

namespace lumo_pack {

std::string verbsMarkdown();

}  // namespace lumo_pack
