// Expansion of a command line's argument text: "$" folder macros become the
// folders of the run environment, "@name" references become the values of
// script variables.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumo {

// At most this many "@" references are replaced in one text. A variable that
// refers to itself, directly or through others, would otherwise be replaced
// for ever; legitimate lines hold a handful of references.
inline constexpr int kMaxVariableReplacements = 100;

// The folder macros in the order they are replaced: "$INSTALL" is a prefix
// of "$INSTALLER", so the longer one goes first.
inline constexpr std::string_view kFolderMacros[] = {
    "$INSTALLER", "$INSTALL", "$KERNEL", "$DESKTOP", "$SYSTEM", "$SMPROGRAMS", "$APPDATA", "$INIPATH", "$CURPATH",
    "$CURDESKTOP",
};

// An "@" reference: from the "@" up to (not including) the first "\", ";",
// "'" or "|" after it, or to the end of the text. The name is what follows
// the "@" once the reference is trimmed.
struct VariableReference {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string_view name;
};

// The first reference at or after `from`, or nothing.
std::optional<VariableReference> findVariableReference(std::string_view text, std::size_t from = 0);

// Rewrites `text` in place: the ten macros ($INSTALLER before $INSTALL, ...),
// then every "@" reference, and once more when a "$" is left over (a variable
// whose value starts with a macro). The folder a macro puts in is taken as it
// is: no "@" or "$" inside it is ever replaced. Returns false, leaving `text`
// as it was, when the text needs more than kMaxVariableReplacements
// replacements.
bool Expand(std::string& text);

// The same, and `marksLeft` tells whether any of `marks` is left in the
// expanded text outside the folders that macros put in (a folder may hold
// "@" or "$" as part of its name; the line's own text may not).
bool Expand(std::string& text, std::string_view marks, bool& marksLeft);

}  // namespace lumo
