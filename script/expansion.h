// Expansion of a command line's argument text: "$" folder macros become the
// folders of the run environment, "@name" references become the values of
// script variables.
#pragma once

#include <string>

namespace lumo {

// At most this many "@" references are replaced in one text. A variable that
// refers to itself, directly or through others, would otherwise be replaced
// for ever; legitimate lines hold a handful of references.
inline constexpr int kMaxVariableReplacements = 100;

// Rewrites `text` in place: the ten macros ($INSTALLER before $INSTALL, ...),
// then every "@" reference, and once more when a "$" is left over (a variable
// whose value starts with a macro). Returns false, leaving `text` as it was,
// when the text needs more than kMaxVariableReplacements replacements.
bool Expand(std::string& text);

}  // namespace lumo
