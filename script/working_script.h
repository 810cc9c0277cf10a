// The working script: the INI-style file that holds the [var] section (the
// variable store) and the command sections. There is no copy in memory:
// every read goes to the file and every write goes to the file at once.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/handler_registry.h"

namespace lumo {

// Values are cut to this many UTF-16 units (a 260-unit buffer with its
// terminator).
inline constexpr std::size_t kMaxValueLength = 259;

// The value of a [var] key of the working script ($INIPATH), or the empty
// text when it is missing.
std::string GetVariable(std::string_view name);

// Writes a [var] key of the working script. A failed write is ignored, as
// the Windows code ignores it; the old file stays whole. A name or value
// that holds a line break or NUL is refused with a ScriptError: the file
// has no way to carry it, and written raw it would become script text. A
// value with characters that GBK cannot carry is written with "?" in their
// place, and the log and stderr say so. A write of `installdir` stores only
// a folder the script can hold (see admittedEarlierFolder).
void SetVariable(std::string_view name, std::string_view value);

// Whether `path` (a native path) is the working script. The script is GBK
// text whatever touches it; commands that edit files by name ask this to
// keep it so.
bool IsWorkingScript(const std::string& path);

// The variables that must never carry over from an earlier run, in the
// order they are written at start-up, with the values written.
inline constexpr std::pair<std::string_view, std::string_view> kRunVariables[] = {
    {"autorun", "1"},     {"installdir", ""},   {"realversion", ""},   {"rmuserdata", "0"}, {"softname1", ""},
    {"softname2", ""},    {"softname3", ""},    {"softcheck1", "0"},   {"softcheck2", "0"}, {"softcheck3", "0"},
    {"softurl1", ""},     {"softurl2", ""},     {"softurl3", ""},      {"accpath", ""},     {"replacesetup", "0"},
    {"maxdisk", ""},      {"macaddr", ""},
};

// Clears the variables that must never carry over from an earlier run.
void ResetRunVariables();

// One command line of a section, bound to its handler.
struct CommandRecord {
  Handler handler = nullptr;
  std::string arguments;  // before expansion
  std::string verb;
  ArgumentRules rules{};  // how the handler's argument text is read
  // Where the line stands: its section's header without brackets and its
  // line number in the script (0 for a line that comes from no section).
  std::string section{};
  int line = 0;
};

using SectionList = std::vector<std::unique_ptr<CommandRecord>>;

// A command line (without its "#") cut into its verb and argument text, both
// trimmed: the verb ends at the first blank.
struct CommandLineParts {
  std::string_view verb;
  std::string_view arguments;
};
CommandLineParts commandLineParts(std::string_view text);

// Turns a command line (without its "#") into a record, or nothing when the
// verb names no handler.
std::unique_ptr<CommandRecord> Parse(std::string_view text);

// A line of script text, decoded from GBK and trimmed; numbers count from 1.
struct ScriptLine {
  int number = 0;
  std::string text;
};

// The lines of one command section as the engine reads them.
struct SectionText {
  int header = 0;                  // the line that opened the section
  std::vector<ScriptLine> commands{};  // command lines without their "#"
  std::optional<ScriptLine> end{};     // the line that ended it, if not the end of the file
};

// Finds the section whose header (for example "[install]") starts a line of
// the GBK script text and reads its command lines: blank lines and comments
// (";") are skipped, the first other line ends the section. Nothing when no
// line opens it.
std::optional<SectionText> readSectionText(std::string_view script, std::string_view header);

// Appends a record for every known command line of the section whose header
// (for example "[install]") starts a line of the working script.
void ReadSection(std::string_view header, SectionList& list);

}  // namespace lumo
