#include "script/dispatcher.h"

#include <cstdio>
#include <exception>
#include <mutex>

#include "platform/debug_channel.h"
#include "script/execution_log.h"
#include "script/expansion.h"
#include "script/handler_registry.h"
#include "script/host.h"
#include "script/install_recorder.h"
#include "script/product_identity.h"
#include "script/run_environment.h"
#include "script/script_error.h"

namespace lumo {
namespace {

constexpr std::string_view kInvalidLine = "Invalid command or argument: ";
constexpr std::string_view kCommandFailedText = "执行安装命令时出错：\n";

// IfThen lines are evaluated by RunSection itself. The verb is registered
// only so that sections accept its lines; reaching this handler means an
// IfThen nested in another IfThen or given to RunCommandLine, which the
// engine does not support.
void IfThenHandler(const CommandContext&, const CommandArguments& arguments) {
  throw ScriptError("[IfThen] Nested or single conditions are not supported: " + arguments.text);
}

std::string withoutAll(std::string_view text, std::string_view characters) {
  std::string result;
  for (char c : text) {
    if (characters.find(c) == std::string_view::npos) result += c;
  }
  return result;
}

}  // namespace

void registerEngineCommands() { registerCommand("IfThen", IfThenHandler, {.changesMachine = false}); }

void printDryRunLine(std::string_view section, int line, std::string_view verb, std::string_view arguments) {
  static std::mutex oneLineAtATime;
  std::string text = std::string(section) + ":" + std::to_string(line) + ": " + std::string(verb);
  if (!arguments.empty()) text += " " + std::string(arguments);
  text += "\n";
  std::lock_guard lock(oneLineAtATime);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

bool isConditionVerb(std::string_view verb) { return verb.find("IfThen") != std::string_view::npos; }

std::string sectionBanner(std::string_view name) {
  return "\r\nLumoShellParser::" + std::string(name) + "  " + std::string(29, '-') + "\r\n";
}

void LogSectionBanner(std::string_view name) { Log(sectionBanner(name)); }

void Execute(CommandRecord& record) {
  const bool installMode = runEnvironment().installMode;
  // A text that needs more replacements than the bound (a variable that
  // refers to itself) comes back unexpanded and is an invalid line, even
  // for Copy.
  bool marksLeft = false;
  const bool expanded = Expand(record.arguments, "@$#", marksLeft);
  logCommandLine(record.verb, record.arguments);
  const bool leftovers = record.verb != "Copy" && marksLeft;
  if (!expanded || leftovers) {
    if (installMode) throw ScriptError(std::string(kInvalidLine) + record.arguments);
    Log(std::string(kInvalidLine) + " " + record.arguments + "\r\n");
    return;
  }
  // The line is read by its verb's rules once, here; a text that does not
  // fit fails as the handler's own error would.
  const CommandContext context = currentCommandContext();
  // What the line created is on record once it is done, whether it
  // completed or failed half way (what it wrote before failing exists).
  struct CommitWhenDone {
    ~CommitWhenDone() { commitInstallRecord(); }
  } commitWhenDone;
  auto run = [&] {
    if (std::optional<CommandArguments> arguments = readArguments(record.verb, record.rules, record.arguments)) {
      if (context.environment.dryRun && record.rules.changesMachine) {
        printDryRunLine(record.section, record.line, record.verb, record.arguments);
        return;
      }
      record.handler(context, *arguments);
    }
  };
  if (installMode) {
    run();
    return;
  }
  try {
    run();
  } catch (const ScriptError& error) {
    // The section goes on, but what was not removed must be on record.
    LogWarning(std::string(error.what()) + " (uninstalling goes on)");
  }
}

bool IfThen(CommandRecord& record) {
  std::size_t arrow = record.arguments.find("->");
  if (arrow == std::string::npos) throwMissingOutput("IfThen", record.arguments);
  std::string condition = withoutAll(std::string_view(record.arguments).substr(0, arrow), "()");
  record.arguments = record.arguments.substr(arrow + 2);

  bool equal = true;
  std::size_t op = condition.find("==");
  if (op == std::string::npos) {
    op = condition.find("!=");
    equal = false;
  }
  if (op == std::string::npos) {
    throw ScriptError("[IfThen] Invalid arguments (Missing operator '==' ): " + condition);
  }
  std::string left = condition.substr(0, op);
  std::string right = withoutAll(std::string_view(condition).substr(op + 2), "\"");
  std::string value = left.starts_with('@') ? GetVariable(std::string_view(left).substr(1)) : left;
  return (value == right) == equal;
}

void RunSection(SectionList& list) {
  for (auto& record : list) {
    if (isConditionVerb(record->verb)) {
      if (IfThen(*record)) {
        const std::string& target = record->arguments;
        if (!target.starts_with('#')) throw ScriptError("[IfThen] Arguments must be command: " + target);
        if (auto command = Parse(std::string_view(target).substr(1))) {
          command->section = record->section;
          command->line = record->line;
          Execute(*command);
        }
      }
    } else {
      Execute(*record);
    }
    record.reset();
  }
  list.clear();
}

void SectionThreadProc(SectionList& list) {
  try {
    RunSection(list);
  } catch (const ScriptError& error) {
    const std::string message = error.what();
    if (!runEnvironment().installMode) {
      LogWarning(message + " (the section ends here)");
      return;
    }
    Log(message + "\r\n");
    host().ask(Question{.id = "script.command-failed",
                        .text = std::string(kCommandFailedText) + message,
                        .caption = installerCaption(),
                        .buttons = {Button::Ok},
                        .defaultButton = Button::Ok,
                        .silentAnswer = Button::Ok,
                        .icon = Icon::Error});
    host().installFailed();
  } catch (const std::exception& error) {
    debugOutput(std::string("Section ended by an unexpected error: ") + error.what() + "\n");
  } catch (...) {
    debugOutput("Section ended by an unexpected error\n");
  }
}

void RunCommandLine(std::string_view text) {
  auto record = Parse(text);
  if (!record) {
    debugOutput("RunCommandLine: no handler for \"" + std::string(text) + "\"\n");
    return;
  }
  try {
    Execute(*record);
  } catch (const ScriptError& error) {
    Log(std::string(error.what()) + "\r\n");
  } catch (...) {
    // A dialog's single command never takes the dialog down.
  }
}

}  // namespace lumo
