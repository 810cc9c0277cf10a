// The script lint: what the engine would only meet on a user's machine (an
// unknown verb, a field too many, a misspelt variable, a run that never ends)
// is found when the installer is built. Scripts are read with the engine's
// own section reader and parser, and every verb is checked against the
// argument rules it registered with its handler.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumo {

enum class Severity { Error, Warning };

struct LintFinding {
  std::string file;
  int line = 0;
  Severity severity = Severity::Error;
  std::string text;
};

// Every finding of one script file, in line order.
std::vector<LintFinding> lintScript(const std::string& path);

// "FILE:LINE: error: text"
std::string formatFinding(const LintFinding& finding);

// "N errors, M warnings"
std::string formatCount(const std::vector<LintFinding>& findings);

// {"findings":[{"file":...,"line":...,"severity":...,"text":...}],"errors":N,"warnings":M}
std::string formatJson(const std::vector<LintFinding>& findings);

bool hasErrors(const std::vector<LintFinding>& findings);

// `lumo-pack lint [--json] FILE...` (scripts, and offer lists ending in
// ".xml"): returns the exit status (0 without errors, 1 with, 2 for a wrong
// command line).
int lintMain(const std::vector<std::string>& args);

}  // namespace lumo
