#include "lint.h"

#include <sys/stat.h>

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
#include "script/product_identity.h"
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
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      error(0, "a folder, not a script file");
      return findings_;
    }
    std::ifstream file(path_, std::ios::binary);
    if (!file) {
      error(0, std::string("cannot read the script: ") + std::strerror(errno));
      return findings_;
    }
    std::ostringstream content;
    content << file.rdbuf();
    const std::string script = content.str();

    checkEncoding(script);
    if (script.find("[var]") == std::string::npos && !std::any_of(std::begin(kCommandSections), std::end(kCommandSections),
                                                                   [&](std::string_view h) { return script.find(h) != std::string::npos; })) {
      error(0, "no [var] section and no command section: not an installation script");
      return findings_;
    }
    for (const ProfileEntry& entry : ProfileFile(path_, TextEncoding::Gbk).entries("var"))
      variables_.try_emplace(folded(entry.key), entry);
    for (std::string_view header : kCommandSections) {
      if (std::optional<SectionText> section = readSectionText(script, header)) sections_.emplace(header, *section);
    }
    checkIdentity();
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
    // A script saved by an editor that writes UTF-8 is whole UTF-8 text
    // with non-ASCII characters; GBK text hardly ever is.
    const bool nonAscii = std::any_of(script.begin(), script.end(), [](char c) { return (c & 0x80) != 0; });
    if (nonAscii && toValidUtf8(script) == script) {
      error(1, "the file is UTF-8 text, but scripts are GBK (code page 936): convert it with "
               "iconv -f UTF-8 -t GBK");
      return;
    }
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

  // The folder rule keys on product_folder and the installed check on
  // main_program: a value the run would ignore is the builder's mistake.
  void checkIdentity() {
    const std::pair<std::string_view, std::optional<std::string> (*)(std::string_view)> keys[] = {
        {kProductFolderKey, whyNotProductFolderName}, {kMainProgramKey, whyNotMainProgramName}};
    for (const auto& [key, why] : keys) {
      auto found = variables_.find(folded(key));
      if (found == variables_.end() || found->second.value.empty()) continue;
      if (std::optional<std::string> reason = why(found->second.value))
        error(found->second.line, std::string(key) + " \"" + found->second.value + "\" cannot be used (" + *reason + "); the installer would use \"" +
                     std::string(key == kProductFolderKey ? kDefaultProductFolder : kDefaultMainProgram) + "\"");
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

  // The values met on the way are checked from a list, not by recursion:
  // a chain of many thousand variables must not exhaust the stack.
  void checkVariable(int line, std::string_view name) {
    if (trim(name).empty()) {
      error(line, "\"@\" names no variable");
      return;
    }
    if (!isKnownVariable(name)) {
      error(line, "variable " + quoted("@" + std::string(name)) +
                      " is neither in [var], nor set at start-up, nor the target of any \"->\"");
      return;
    }
    pendingValues_.push_back(folded(name));
    if (checkingValues_) return;
    checkingValues_ = true;
    while (!pendingValues_.empty()) {
      std::string key = std::move(pendingValues_.back());
      pendingValues_.pop_back();
      checkValue(key);
    }
    checkingValues_ = false;
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

  // Every variable on a loop of references (its own value, or a value it
  // uses, leads back to it). The loops are the strongly connected parts of
  // the reference graph, found in one pass, so the check stays linear in the
  // number of variables; each warning shows one loop through its variable.
  void checkSelfReferences() {
    ReferenceGraph graph(variables_);
    for (const Loop& loop : graph.loops()) {
      for (std::size_t member : loop.members) {
        const ProfileEntry& entry = variables_.at(graph.name(member));
        warning(entry.line, "variable " + quoted(entry.key) + " refers to itself (" + graph.describeLoop(loop, member) +
                                "): every line that uses it is refused");
      }
    }
  }

  struct Loop {
    std::size_t root = 0;
    std::vector<std::size_t> members;
  };

  class ReferenceGraph {
   public:
    explicit ReferenceGraph(const std::map<std::string, ProfileEntry>& variables) {
      std::map<std::string_view, std::size_t> index;
      for (const auto& [key, entry] : variables) {
        index.emplace(key, names_.size());
        names_.push_back(key);
      }
      uses_.resize(names_.size());
      for (const auto& [key, entry] : variables) {
        const std::string& value = entry.value;
        std::size_t from = index.at(key);
        for (auto reference = findVariableReference(value); reference;
             reference = findVariableReference(value, reference->end)) {
          auto to = index.find(folded(reference->name));
          if (to != index.end()) uses_[from].push_back(to->second);
        }
      }
      findParts();
    }

    const std::string& name(std::size_t node) const { return names_[node]; }

    std::vector<Loop> loops() {
      std::vector<Loop> found(partCount_);
      for (std::size_t node = 0; node < names_.size(); ++node) found[part_[node]].members.push_back(node);
      std::vector<Loop> loops;
      for (Loop& loop : found) {
        std::size_t first = loop.members.front();
        bool selfLoop = std::find(uses_[first].begin(), uses_[first].end(), first) != uses_[first].end();
        if (loop.members.size() < 2 && !selfLoop) continue;
        loop.root = first;
        walkFromRoot(loop);
        loops.push_back(std::move(loop));
      }
      return loops;
    }

    // "a -> b -> a"; a long loop shows its start and its end. Linear over
    // all members: only the root's own loop is walked in full.
    std::string describeLoop(const Loop& loop, std::size_t member) const {
      constexpr std::size_t kShown = 12, kHead = 6, kTail = 3;
      constexpr std::size_t kGap = static_cast<std::size_t>(-1);
      std::vector<std::size_t> nodes;
      std::size_t length = 0;  // names on the loop, the first one counted twice
      if (member == loop.root) {
        // From the root on to a variable that uses the root, and back.
        std::size_t last = loop.root;
        bool found = false;
        for (std::size_t node : usedBy_[loop.root])
          if (!found || distanceFromRoot_[node] < distanceFromRoot_[last]) {
            last = node;
            found = true;
          }
        for (std::size_t node = last; node != loop.root; node = fromRoot_[node]) nodes.push_back(node);
        nodes.push_back(loop.root);
        std::reverse(nodes.begin(), nodes.end());
        nodes.push_back(loop.root);
        length = nodes.size();
        if (length > kShown) {
          std::vector<std::size_t> shown(nodes.begin(), nodes.begin() + kHead);
          shown.push_back(kGap);
          shown.insert(shown.end(), nodes.end() - kTail, nodes.end());
          nodes = std::move(shown);
        }
      } else {
        // From the member back to the root, then on from the root to it.
        length = distanceToRoot_[member] + 1 + distanceFromRoot_[member];
        const std::size_t headCount = length <= kShown ? length : kHead;
        const std::size_t tailCount = length <= kShown ? length : kTail;
        for (std::size_t node = member; nodes.size() < headCount; node = towardsRoot_[node]) {
          nodes.push_back(node);
          if (node == loop.root) break;
        }
        if (length > kShown) nodes.push_back(kGap);
        std::vector<std::size_t> tail;
        for (std::size_t node = member; node != loop.root && tail.size() < tailCount; node = fromRoot_[node])
          tail.push_back(node);
        nodes.insert(nodes.end(), tail.rbegin(), tail.rend());
      }
      std::string text;
      for (std::size_t node : nodes) text += (text.empty() ? "" : " -> ") + (node == kGap ? "..." : names_[node]);
      if (length > kShown) text += ", " + std::to_string(length - 1) + " steps";
      return text;
    }

   private:
    // Tarjan's strongly connected parts, with an explicit stack.
    void findParts() {
      const std::size_t n = names_.size();
      constexpr std::size_t kUnseen = static_cast<std::size_t>(-1);
      std::vector<std::size_t> order(n, kUnseen), low(n, 0);
      std::vector<bool> onStack(n, false);
      std::vector<std::size_t> stack;
      std::vector<std::pair<std::size_t, std::size_t>> calls;  // node, next use to look at
      part_.assign(n, 0);
      std::size_t counter = 0;
      auto enter = [&](std::size_t node) {
        order[node] = low[node] = counter++;
        stack.push_back(node);
        onStack[node] = true;
        calls.emplace_back(node, 0);
      };
      for (std::size_t start = 0; start < n; ++start) {
        if (order[start] != kUnseen) continue;
        enter(start);
        while (!calls.empty()) {
          std::size_t node = calls.back().first;
          if (calls.back().second < uses_[node].size()) {
            std::size_t next = uses_[node][calls.back().second++];
            if (order[next] == kUnseen)
              enter(next);
            else if (onStack[next])
              low[node] = std::min(low[node], order[next]);
            continue;
          }
          if (low[node] == order[node]) {
            std::size_t member;
            do {
              member = stack.back();
              stack.pop_back();
              onStack[member] = false;
              part_[member] = partCount_;
            } while (member != node);
            ++partCount_;
          }
          calls.pop_back();
          if (!calls.empty()) low[calls.back().first] = std::min(low[calls.back().first], low[node]);
        }
      }
      distanceToRoot_.assign(n, 0);
      distanceFromRoot_.assign(n, 0);
      towardsRoot_.assign(n, 0);
      fromRoot_.assign(n, 0);
      usedBy_.resize(n);
      for (std::size_t node = 0; node < n; ++node)
        for (std::size_t next : uses_[node])
          if (part_[next] == part_[node]) usedBy_[next].push_back(node);
    }

    // Shortest ways inside the loop from the root to every member and from
    // every member to the root.
    void walkFromRoot(const Loop& loop) {
      auto walk = [&](const std::vector<std::vector<std::size_t>>& edges, std::vector<std::size_t>& distance,
                      std::vector<std::size_t>& previous) {
        std::vector<std::size_t> queue{loop.root};
        std::vector<bool>& seen = seen_;
        seen.resize(names_.size(), false);
        for (std::size_t node : loop.members) seen[node] = false;
        seen[loop.root] = true;
        distance[loop.root] = 0;
        for (std::size_t at = 0; at < queue.size(); ++at) {
          std::size_t node = queue[at];
          for (std::size_t next : edges[node]) {
            if (part_[next] != part_[loop.root] || seen[next]) continue;
            seen[next] = true;
            distance[next] = distance[node] + 1;
            previous[next] = node;
            queue.push_back(next);
          }
        }
      };
      walk(uses_, distanceFromRoot_, fromRoot_);
      walk(usedBy_, distanceToRoot_, towardsRoot_);
    }

    std::vector<std::string> names_;
    std::vector<std::vector<std::size_t>> uses_;
    std::vector<std::vector<std::size_t>> usedBy_;  // inside the same part only
    std::vector<std::size_t> part_;
    std::size_t partCount_ = 0;
    std::vector<std::size_t> distanceFromRoot_, fromRoot_;      // the way root -> node
    std::vector<std::size_t> distanceToRoot_, towardsRoot_;     // the way node -> root
    std::vector<bool> seen_;
  };

  std::string path_;
  std::vector<LintFinding> findings_;
  std::map<std::string, ProfileEntry> variables_;  // by folded name; the first entry of a key counts
  std::set<std::string> outputs_;
  std::map<std::string_view, SectionText> sections_;
  std::set<std::string> checkedValues_;
  std::vector<std::string> pendingValues_;
  bool checkingValues_ = false;
};

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
