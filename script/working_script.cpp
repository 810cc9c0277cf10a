#include "script/working_script.h"

#include <fstream>
#include <sstream>

#include "formats/profile_file.h"
#include "platform/file_handles.h"
#include "platform/text.h"
#include "script/execution_log.h"
#include "script/install_folder.h"
#include "script/run_environment.h"
#include "script/script_error.h"

namespace lumo {
namespace {

constexpr std::string_view kVarSection = "var";
constexpr std::string_view kUnwritableValueError = "[SetVariable] Variable not written: ";
constexpr std::string_view kLossyValueWarning = "[SetVariable] Characters that GBK cannot carry are written as \"?\": ";

// Scripts write variables in bursts (a flush per write made 10,000 writes
// take a minute): writes are grouped for the disk, never for readers.
ProfileFile workingScript(const std::string& path) { return ProfileFile(path, TextEncoding::Gbk, Durability::Grouped); }

std::string visibleControls(std::string_view text) {
  std::string shown;
  for (char c : text) {
    if (c == '\r') shown += "\\r";
    else if (c == '\n') shown += "\\n";
    else if (c == '\0') shown += "\\0";
    else shown += c;
  }
  return shown;
}

}  // namespace

std::string Variables::get(std::string_view name) const {
  return cutToUtf16Units(workingScript(scriptPath_).read(kVarSection, name).value_or(""), kMaxValueLength);
}

void Variables::set(std::string_view name, std::string_view value) const {
  // The record of the earlier installation is checked at the door.
  std::string admitted;
  if (equalsIgnoreCase(name, kEarlierFolderVariable)) {
    admitted = admittedEarlierFolder(value);
    value = admitted;
  }
  // Written raw, such a value would become script text of its own.
  if (std::optional<std::string> why = whyEntryCannotBeWritten(kVarSection, name, value)) {
    throw ScriptError(std::string(kUnwritableValueError) + *why + ": " + visibleControls(name) + "=" +
                      visibleControls(value));
  }
  // The script is GBK text: what GBK cannot carry is stored as "?", and a
  // folder stored so names another folder. The run says so.
  if (gbkToUtf8(utf8ToGbk(value)) != value) {
    LogWarning(std::string(kLossyValueWarning) + std::string(name) + "=" + toValidUtf8(value));
  }
  workingScript(scriptPath_).write(kVarSection, name, value);
}

bool Variables::storedIn(const std::string& path) const { return sameFile(path, scriptPath_); }

std::string GetVariable(std::string_view name) { return Variables(runEnvironment().iniPath).get(name); }

void SetVariable(std::string_view name, std::string_view value) { Variables(runEnvironment().iniPath).set(name, value); }

bool IsWorkingScript(const std::string& path) { return Variables(runEnvironment().iniPath).storedIn(path); }

void ResetRunVariables() {
  for (const auto& [name, value] : kRunVariables) SetVariable(name, value);
}

CommandLineParts commandLineParts(std::string_view text) {
  std::size_t blank = text.find(' ');
  return {trim(text.substr(0, blank)), blank == std::string_view::npos ? std::string_view() : trim(text.substr(blank + 1))};
}

std::unique_ptr<CommandRecord> Parse(std::string_view text) {
  auto [verb, arguments] = commandLineParts(text);
  const Command* command = findCommand(verb);
  if (!command || !command->handler) return nullptr;
  auto record = std::make_unique<CommandRecord>();
  record->handler = command->handler;
  record->arguments = std::string(arguments);
  record->verb = std::string(verb);
  record->rules = command->rules;
  return record;
}

std::optional<SectionText> readSectionText(std::string_view script, std::string_view header) {
  std::optional<SectionText> section;
  int number = 0;
  // Lines end at LF; the CR of a CR LF end is white space and trimmed away.
  for (std::size_t at = 0; at < script.size();) {
    std::size_t lf = script.find('\n', at);
    std::string_view raw = script.substr(at, lf == std::string_view::npos ? std::string_view::npos : lf - at);
    at = lf == std::string_view::npos ? script.size() : lf + 1;
    ++number;
    std::string text = gbkToUtf8(raw);
    if (!section) {
      // Only a header at the start of a line (after white space) opens the
      // section; a comment that merely mentions it does not.
      if (trimStart(text).starts_with(header)) section = SectionText{.header = number};
      continue;
    }
    std::string_view line = trim(text);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() != '#') {
      section->end = ScriptLine{number, std::string(line)};
      break;
    }
    section->commands.push_back(ScriptLine{number, std::string(line.substr(1))});
  }
  return section;
}

void ReadSection(std::string_view header, SectionList& list) {
  // Writes replace the script by rename, so one read sees one whole version.
  std::ifstream file(runEnvironment().iniPath, std::ios::binary);
  if (!file) return;
  std::ostringstream content;
  content << file.rdbuf();
  std::optional<SectionText> section = readSectionText(content.str(), header);
  if (!section) return;
  std::string name(header);
  if (name.starts_with('[') && name.ends_with(']')) name = name.substr(1, name.size() - 2);
  for (const ScriptLine& line : section->commands) {
    if (auto record = Parse(line.text)) {
      record->section = name;
      record->line = line.number;
      list.push_back(std::move(record));
    }
  }
}

}  // namespace lumo
