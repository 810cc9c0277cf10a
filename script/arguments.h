// The handler contract's helpers for argument text: fields split on "|",
// and the "->" operator that names the variable receiving a result.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumo {

// Splits on "|": the number of fields is the number of "|" plus one. Fields
// keep their blanks and may be empty; the empty text is one empty field.
std::vector<std::string> SplitArguments(std::string_view text);

// SplitArguments, then the count check of the handler contract: throws
// "[Verb] Invalid arguments (nArg!=N): " + text when the count differs.
std::vector<std::string> splitFields(std::string_view verb, std::string_view text, int expected);

// A text "INPUT->VARIABLE" split at its first "->". The variable name is
// everything after the operator, not trimmed.
struct OutputArguments {
  std::string input;
  std::string variable;
};

// Throws "[Verb] Invalid arguments (Missing operator '->' ): " + text when
// the text has no "->".
OutputArguments splitOutput(std::string_view verb, std::string_view text);

}  // namespace lumo
