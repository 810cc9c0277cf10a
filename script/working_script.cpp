#include "script/working_script.h"

#include <fstream>
#include <sstream>

#include "platform/profile_file.h"
#include "platform/text.h"
#include "script/run_environment.h"

namespace lumo {
namespace {

constexpr std::string_view kVarSection = "var";

// Scripts write variables in bursts (a flush per write made 10,000 writes
// take a minute): writes are grouped for the disk, never for readers.
ProfileFile workingScript() { return ProfileFile(runEnvironment().iniPath, TextEncoding::Gbk, Durability::Grouped); }

}  // namespace

std::string GetVariable(std::string_view name) {
  return cutToUtf16Units(workingScript().read(kVarSection, name).value_or(""), kMaxValueLength);
}

void SetVariable(std::string_view name, std::string_view value) { workingScript().write(kVarSection, name, value); }

bool IsWorkingScript(const std::string& path) { return sameFile(path, runEnvironment().iniPath); }

void ResetRunVariables() {
  static constexpr std::pair<std::string_view, std::string_view> kResets[] = {
      {"autorun", "1"},     {"installdir", ""},   {"realversion", ""},  {"rmuserdata", "0"},
      {"softname1", ""},    {"softname2", ""},    {"softname3", ""},    {"softcheck1", "0"},
      {"softcheck2", "0"},  {"softcheck3", "0"},  {"softurl1", ""},     {"softurl2", ""},
      {"softurl3", ""},     {"accpath", ""},      {"replacesetup", "0"}, {"maxdisk", ""},
      {"macaddr", ""},
  };
  for (const auto& [name, value] : kResets) SetVariable(name, value);
}

std::unique_ptr<CommandRecord> Parse(std::string_view text) {
  std::size_t blank = text.find(' ');
  std::string_view verb = trim(text.substr(0, blank));
  std::string_view arguments = blank == std::string_view::npos ? std::string_view() : trim(text.substr(blank + 1));
  Handler handler = findHandler(verb);
  if (!handler) return nullptr;
  auto record = std::make_unique<CommandRecord>();
  record->handler = handler;
  record->arguments = std::string(arguments);
  record->verb = std::string(verb);
  return record;
}

void ReadSection(std::string_view header, SectionList& list) {
  // Writes replace the script by rename, so one read sees one whole version.
  std::ifstream file(runEnvironment().iniPath, std::ios::binary);
  if (!file) return;
  std::string line;
  bool inSection = false;
  while (std::getline(file, line)) {
    std::string text = gbkToUtf8(line);
    if (!inSection) {
      // Only a header at the start of a line (after white space) opens the
      // section; a comment that merely mentions it does not.
      inSection = trimStart(text).starts_with(header);
      continue;
    }
    std::string_view command = trim(text);
    if (command.empty() || command.front() == ';') continue;
    if (command.front() != '#') break;
    if (auto record = Parse(command.substr(1))) list.push_back(std::move(record));
  }
}

}  // namespace lumo
