#include "lint.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "formats/profile_file.h"
#include "offer_lint.h"
#include "platform/text.h"
#include "script/arguments.h"
#include "script/decimal.h"
#include "script/dispatcher.h"
#include "script/expansion.h"
#include "script/handler_registry.h"
#include "script/working_script.h"

namespace lumo {
namespace {

constexpr std::string_view kCommandSections[] = {"[installinit]",    "[install]",        "[installok]",
                                                 "[installfailed]", "[uninstallinit]", "[uninstall]"};
// What iconv makes of bytes that are not GBK; GBK itself cannot carry it.
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

std::string quoted(std::string_view text) { return std::string("\"").append(text).append("\""); }

std::string folded(std::string_view name) { return toLowerAscii(trim(name)); }

std::string withoutAll(std::string_view text, std::string_view characters) {
  std::string result;
  for (char c : text) {
    if (characters.find(c) == std::string_view::npos) result += c;
  }
  return result;
}

// The "$" word at `at`, for messages: "$" and the letters, digits and "_"
// after it.
std::string macroWord(std::string_view text, std::size_t at) {
  std::size_t end = at + 1;
  while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) ++end;
  return std::string(text.substr(at, end - at));
}

bool isFolderMacroAt(std::string_view text, std::size_t at) {
  return std::any_of(std::begin(kFolderMacros), std::end(kFolderMacros),
                     [&](std::string_view macro) { return text.substr(at).starts_with(macro); });
}

class Linter {
 public:
  explicit Linter(std::string path) : path_(std::move(path)) {}

  std::vector<LintFinding> run() {
    std::ifstream file(path_, std::ios::binary);
    if (!file) {
      error(0, std::string("cannot read the script: ") + std::strerror(errno));
      return findings_;
    }
    std::ostringstream content;
    content << file.rdbuf();
    const std::string script = content.str();

    checkEncoding(script);
    for (const ProfileEntry& entry : ProfileFile(path_, TextEncoding::Gbk).entries("var"))
      variables_.try_emplace(folded(entry.key), entry);
    for (std::string_view header : kCommandSections) {
      if (std::optional<SectionText> section = readSectionText(script, header)) sections_.emplace(header, *section);
    }
    for (const auto& [header, section] : sections_) {
      for (const ScriptLine& line : section.commands) collectOutput(line.text);
    }
    for (const auto& [header, section] : sections_) {
      for (const ScriptLine& line : section.commands) checkCommandLine(line);
      if (section.end) checkSectionEnd(header, *section.end);
    }
    checkFlows();
    checkSelfReferences();

    std::stable_sort(findings_.begin(), findings_.end(),
                     [](const LintFinding& a, const LintFinding& b) { return a.line < b.line; });
    return findings_;
  }

 private:
  void error(int line, std::string text) { findings_.push_back({path_, line, Severity::Error, std::move(text)}); }
  void warning(int line, std::string text) { findings_.push_back({path_, line, Severity::Warning, std::move(text)}); }

  // The engine turns every line into UTF-8 before it looks at it; a byte
  // sequence that is not GBK arrives as U+FFFD and the line means something
  // else than its author wrote.
  void checkEncoding(std::string_view script) {
    int number = 0;
    for (std::size_t at = 0; at < script.size();) {
      std::size_t lf = script.find('\n', at);
      std::string_view raw = script.substr(at, lf == std::string_view::npos ? std::string_view::npos : lf - at);
      at = lf == std::string_view::npos ? script.size() : lf + 1;
      ++number;
      if (gbkToUtf8(raw).find(kReplacementCharacter) != std::string::npos)
        error(number, "bytes that are not GBK (the script must be saved in code page 936)");
    }
  }

  // A variable named after "->" exists once its line has run, so any line
  // of the script may use it.
  void collectOutput(std::string_view line) {
    auto [verb, arguments] = commandLineParts(line);
    const Command* command = findCommand(verb);
    if (!command) return;
    std::size_t arrow = arguments.find("->");
    if (arrow == std::string_view::npos) return;
    if (isConditionVerb(verb)) {
      std::string_view target = arguments.substr(arrow + 2);
      if (target.starts_with('#') && !isConditionVerb(commandLineParts(target.substr(1)).verb))
        collectOutput(target.substr(1));
      return;
    }
    if (command->rules.output != Output::None) outputs_.insert(folded(arguments.substr(arrow + 2)));
  }

  bool isKnownVariable(std::string_view name) const {
    std::string key = folded(name);
    if (variables_.contains(key) || outputs_.contains(key)) return true;
    return std::any_of(std::begin(kRunVariables), std::end(kRunVariables),
                       [&](const auto& run) { return run.first == key; });
  }

  void unknownVerb(int line, std::string_view verb) {
    if (verb.empty()) {
      error(line, "no verb after \"#\"");
      return;
    }
    std::string text = "unknown verb " + quoted(verb) + ": the engine drops the line";
    for (const Command& command : registeredCommands()) {
      if (equalsIgnoreCase(command.verb, verb)) text += " (the verb is " + quoted(command.verb) + "; letter case counts)";
    }
    error(line, text);
  }

  void checkCommandLine(const ScriptLine& line) {
    auto [verb, arguments] = commandLineParts(line.text);
    const Command* command = findCommand(verb);
    if (!command) return unknownVerb(line.number, verb);
    if (isConditionVerb(verb)) return checkIfThen(line.number, arguments);
    checkArguments(line.number, *command, arguments);
  }

  void checkIfThen(int line, std::string_view arguments) {
    std::size_t arrow = arguments.find("->");
    if (arrow == std::string_view::npos) {
      error(line, "IfThen without \"->\" and a command to run");
      return;
    }
    std::string condition = withoutAll(arguments.substr(0, arrow), "()");
    std::string_view target = arguments.substr(arrow + 2);
    std::size_t op = condition.find("==");
    if (op == std::string::npos) op = condition.find("!=");
    if (op == std::string::npos) {
      error(line, "IfThen condition " + quoted(condition) + " has neither \"==\" nor \"!=\"");
    } else if (std::string_view left = std::string_view(condition).substr(0, op); left.starts_with('@')) {
      checkVariable(line, left.substr(1));
    }
    if (!target.starts_with('#')) {
      error(line, "the command after \"->\" must start with \"#\", not " + quoted(target));
      return;
    }
    auto [verb, targetArguments] = commandLineParts(target.substr(1));
    const Command* command = findCommand(verb);
    if (!command) return unknownVerb(line, verb);
    if (isConditionVerb(verb)) {
      error(line, "the command after \"->\" is itself IfThen: conditions do not nest");
      return;
    }
    checkArguments(line, *command, targetArguments);
  }

  void checkVariable(int line, std::string_view name) {
    if (trim(name).empty()) {
      error(line, "\"@\" names no variable");
    } else if (!isKnownVariable(name)) {
      error(line, "variable " + quoted("@" + std::string(name)) +
                      " is neither in [var], nor set at start-up, nor the target of any \"->\"");
    } else {
      checkValue(name);
    }
  }

  // What expansion leaves behind makes the engine refuse the line: an
  // unknown "$" word stays, and so does a "#" (Copy alone takes either).
  void checkLeftovers(int line, const Command& command, std::string_view text) {
    const bool copy = command.verb == "Copy";
    for (std::size_t at = text.find('$'); at != std::string_view::npos; at = text.find('$', at + 1)) {
      if (isFolderMacroAt(text, at)) continue;
      std::string word = macroWord(text, at);
      if (copy)
        warning(line, quoted(word) + " is not a folder macro: Copy takes it as part of the name");
      else
        error(line, quoted(word) + " is not a folder macro: the engine refuses the line");
    }
    if (!copy && text.find('#') != std::string_view::npos)
      error(line, "\"#\" in the arguments of " + command.verb + ": the engine refuses the line");
  }

  void checkArguments(int line, const Command& command, std::string_view arguments) {
    checkLeftovers(line, command, arguments);
    for (auto reference = findVariableReference(arguments); reference;
         reference = findVariableReference(arguments, reference->end))
      checkVariable(line, reference->name);

    const ArgumentRules& rules = command.rules;
    std::string_view text = arguments;
    if (rules.mayBeEmpty && trim(text).empty()) return;
    if (rules.output != Output::None) {
      std::size_t arrow = text.find("->");
      if (arrow != std::string_view::npos) {
        if (text.substr(arrow + 2).empty()) error(line, command.verb + " names no variable after \"->\"");
        text = text.substr(0, arrow);
      } else if (rules.output == Output::Required) {
        error(line, command.verb + " produces a value: \"->\" and the variable that receives it are missing");
      }
    }
    if (rules.extension != '\0') text = text.substr(0, text.find(rules.extension));
    if (rules.fields < 1) return;
    if (rules.mayBeEmpty) text = trim(text);
    const int count = static_cast<int>(std::count(text.begin(), text.end(), '|')) + 1;
    // A variable's value may bring more "|" (a download description), never
    // fewer.
    const bool mayGrow = findVariableReference(text).has_value();
    if (count > rules.fields || (count < rules.fields && !mayGrow)) {
      error(line, command.verb + " takes " + std::to_string(rules.fields) + " fields separated by \"|\", this line has " +
                      std::to_string(count));
    }
  }

  // The value of a variable that a line uses is expanded in its turn.
  void checkValue(std::string_view name) {
    std::string key = folded(name);
    auto it = variables_.find(key);
    if (it == variables_.end() || !checkedValues_.insert(key).second) return;
    const ProfileEntry& entry = it->second;
    const std::string& value = entry.value;
    for (std::size_t at = value.find('$'); at != std::string::npos; at = value.find('$', at + 1)) {
      if (!isFolderMacroAt(value, at))
        error(entry.line, quoted(macroWord(value, at)) + " in the value of " + quoted(entry.key) +
                              " is not a folder macro: the lines that use it are refused");
    }
    for (auto reference = findVariableReference(value); reference;
         reference = findVariableReference(value, reference->end))
      checkVariable(entry.line, reference->name);
  }

  void checkSectionEnd(std::string_view header, const ScriptLine& end) {
    if (end.text.starts_with('[')) return;
    std::string_view first = commandLineParts(end.text).verb;
    const std::vector<Command> commands = registeredCommands();
    const bool commandLike = std::any_of(commands.begin(), commands.end(),
                                         [&](const Command& command) { return equalsIgnoreCase(command.verb, first); });
    if (commandLike)
      warning(end.number, "looks like a command but lacks its \"#\": it ends " + std::string(header) +
                              " and the lines after it are never read");
    else
      warning(end.number, "neither a command, a comment nor a section header: it ends " + std::string(header) +
                              " and the lines after it are never read");
  }

  // A Notify line of the section (not one under a condition) that sends
  // the text of `variable` at `percent`.
  bool sends(const SectionText* section, std::string_view variable, int percent) const {
    if (!section) return false;
    auto value = variables_.find(std::string(variable));
    for (const ScriptLine& line : section->commands) {
      auto [verb, arguments] = commandLineParts(line.text);
      if (verb != "Notify") continue;
      std::vector<std::string> fields = SplitArguments(arguments);
      if (fields.size() != 2 || std::clamp(readDecimal(fields[1]), 0, 100) != percent) continue;
      std::string_view text = fields[0];
      std::optional<VariableReference> reference = findVariableReference(text);
      if (reference && reference->begin == 0 && reference->end == text.size() && folded(reference->name) == variable)
        return true;
      if (value != variables_.end() && !value->second.value.empty() && text == value->second.value) return true;
    }
    return false;
  }

  const SectionText* section(std::string_view header) const {
    auto it = sections_.find(header);
    return it == sections_.end() ? nullptr : &it->second;
  }

  // Each of these leaves a window open for ever: the dialogs end a run only
  // when they see its closing text.
  void checkFlows() {
    constexpr std::pair<std::string_view, std::string_view> kNeeded[] = {
        {"[install]", "nothing is installed"},
        {"[installfailed]", "a failed installation is not rolled back"},
        {"[uninstall]", "nothing is uninstalled"},
    };
    for (const auto& [header, consequence] : kNeeded) {
      const SectionText* found = section(header);
      if (!found)
        warning(1, "section " + std::string(header) + " is missing: " + std::string(consequence));
      else if (found->commands.empty())
        warning(found->header, "section " + std::string(header) + " is empty: " + std::string(consequence));
    }
    if (const SectionText* install = section("[install]"); install && !install->commands.empty()) {
      const ScriptLine& last = install->commands.back();
      if (commandLineParts(last.text).verb != "NotifyOK")
        warning(last.number, "the last command of [install] is not NotifyOK: [installok] never runs");
    }
    struct Ending {
      std::string_view header;
      std::string_view variable;
      int percent;
    };
    constexpr Ending kEndings[] = {
        {"[installok]", "msg_complete", 100},
        {"[installok]", "msg_close", 100},
        {"[installfailed]", "msg_cancel_complete", 0},
        {"[uninstall]", "msg_removed", 100},
    };
    for (const Ending& ending : kEndings) {
      const SectionText* found = section(ending.header);
      // A missing [installfailed] or [uninstall] is reported above.
      if (ending.header != "[installok]" && (!found || found->commands.empty())) continue;
      if (sends(found, ending.variable, ending.percent)) continue;
      warning(found ? found->header : 1, std::string(ending.header) + " never sends " + std::string(ending.variable) +
                                             " at " + std::to_string(ending.percent) +
                                             " (Notify @" + std::string(ending.variable) + "|" +
                                             std::to_string(ending.percent) + "): the window stays open for ever");
    }
  }

  // A path from `from` through the variables its value uses back to
  // `target`, or nothing.
  bool reaches(const std::string& from, const std::string& target, std::vector<std::string>& path,
               std::set<std::string>& visited) const {
    auto it = variables_.find(from);
    if (it == variables_.end()) return false;
    const std::string& value = it->second.value;
    for (auto reference = findVariableReference(value); reference;
         reference = findVariableReference(value, reference->end)) {
      std::string next = folded(reference->name);
      path.push_back(next);
      if (next == target) return true;
      if (visited.insert(next).second && reaches(next, target, path, visited)) return true;
      path.pop_back();
    }
    return false;
  }

  void checkSelfReferences() {
    for (const auto& [key, entry] : variables_) {
      std::vector<std::string> path{key};
      std::set<std::string> visited;
      if (!reaches(key, key, path, visited)) continue;
      std::string chain;
      for (const std::string& name : path) chain += (chain.empty() ? "" : " -> ") + name;
      warning(entry.line, "variable " + quoted(entry.key) + " refers to itself (" + chain +
                              "): every line that uses it is refused");
    }
  }

  std::string path_;
  std::vector<LintFinding> findings_;
  std::map<std::string, ProfileEntry> variables_;  // by folded name; the first entry of a key counts
  std::set<std::string> outputs_;
  std::map<std::string_view, SectionText> sections_;
  std::set<std::string> checkedValues_;
};

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::size_t countOf(const std::vector<LintFinding>& findings, Severity severity) {
  return static_cast<std::size_t>(std::count_if(findings.begin(), findings.end(),
                                                [&](const LintFinding& f) { return f.severity == severity; }));
}

std::string severityName(Severity severity) { return severity == Severity::Error ? "error" : "warning"; }

std::string plural(std::size_t n, std::string_view word) {
  return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

}  // namespace

std::vector<LintFinding> lintScript(const std::string& path) { return Linter(path).run(); }

std::string formatFinding(const LintFinding& finding) {
  return finding.file + ":" + std::to_string(finding.line) + ": " + severityName(finding.severity) + ": " +
         finding.text;
}

std::string formatCount(const std::vector<LintFinding>& findings) {
  return plural(countOf(findings, Severity::Error), "error") + ", " +
         plural(countOf(findings, Severity::Warning), "warning");
}

std::string formatJson(const std::vector<LintFinding>& findings) {
  std::string out = "{\"findings\":[";
  for (std::size_t i = 0; i < findings.size(); ++i) {
    const LintFinding& f = findings[i];
    if (i) out += ',';
    out += std::string("{\"file\":") + jsonString(f.file) + ",\"line\":" + std::to_string(f.line) +
           ",\"severity\":\"" + severityName(f.severity) + "\",\"text\":" + jsonString(f.text) + "}";
  }
  return out + "],\"errors\":" + std::to_string(countOf(findings, Severity::Error)) +
         ",\"warnings\":" + std::to_string(countOf(findings, Severity::Warning)) + "}";
}

bool hasErrors(const std::vector<LintFinding>& findings) { return countOf(findings, Severity::Error) > 0; }

int lintMain(const std::vector<std::string>& args) {
  bool json = false;
  bool usageError = false;
  std::vector<std::string> files;
  for (const std::string& arg : args) {
    if (arg == "--json")
      json = true;
    else if (arg.starts_with("-"))
      usageError = true;
    else
      files.push_back(arg);
  }
  if (usageError || files.empty()) {
    std::fputs("usage: lumo-pack lint [--json] SCRIPT|OFFERS.xml...\n", stderr);
    return 2;
  }
  std::vector<LintFinding> findings;
  for (const std::string& file : files) {
    std::vector<LintFinding> found = isOfferList(file) ? lintOfferList(file) : lintScript(file);
    findings.insert(findings.end(), found.begin(), found.end());
  }
  if (json) {
    std::printf("%s\n", formatJson(findings).c_str());
  } else {
    for (const LintFinding& finding : findings) std::printf("%s\n", formatFinding(finding).c_str());
    std::printf("%s\n", formatCount(findings).c_str());
  }
  return hasErrors(findings) ? 1 : 0;
}

}  // namespace lumo
