// Process commands: Kill, Run, WaitProcess, CheckUse.
#include "commands/process.h"

#include <algorithm>
#include <string>
#include <vector>

#include "commands/families.h"
#include "platform/file_operations.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/sysroot.h"
#include "platform/text.h"
#include "script/decimal.h"
#include "script/run_environment.h"
#include "script/product_identity.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

// Whether `exe` is the product's main program, which a silent installation
// never starts: named as the script spells it, or in lower case.
bool isMainProgram(std::string_view exe, const std::string& mainProgram) {
  return exe.find(mainProgram) != std::string_view::npos || exe.find(toLowerAscii(mainProgram)) != std::string_view::npos;
}

// The progress text that moves the bar one step forward.
constexpr char kProgressStep[] = "Process++";

constexpr int kLongestWaitPeriod = 10000;

constexpr char kInUseQuestion[] = "checkuse.in-use";
constexpr char kInUseCaption[] = "文件被占用";

std::string inUseText(const std::string& file, const std::string& programs) {
  return "目标文件 " + file + " 被以下程序占用: \n\n " + programs +
         "  \n\n按'继续'结束占用程序,按'重试'忽略警告,按'取消'退出安装程序！\n";
}

std::string inUseError(const std::string& file) { return "文件" + file + " 被占用，无法写入！"; }

// Ends every process whose executable name matches the argument text. No
// report when nothing matched or a process could not be ended. The installer
// never ends itself this way. In a sandbox (LUMO_SYSROOT) only programs that
// run from inside it are ended: the real machine's, and other sandboxes',
// are not this run's to end.
void killByName(const std::string& name) {
  for (const RunningProcess& process : listProcesses()) {
    if (executableNameMatches(process.name, name) && isOnThisMachine(process.path))
      terminateProcess(process.pid, name);
  }
}

}  // namespace

namespace commands {

std::optional<long> runProgram(const std::string& exe, const std::string& parameters, int waitMilliseconds,
                               bool show) {
  return runProgram(currentCommandContext(), exe, parameters, waitMilliseconds, show);
}

std::optional<long> runProgram(const CommandContext& context, const std::string& exe, const std::string& parameters,
                               int waitMilliseconds, bool show) {
  const RunEnvironment& environment = context.environment;
  if (environment.silent) {
    if (isMainProgram(exe, productIdentity(context.variables).mainProgram)) return std::nullopt;
  }

  const std::string program = nativePath(exe);
  // The system folder only decides whether to go on; the start looks the
  // program up itself.
  if (!pathFileExists(program) && (environment.system.empty() || !pathFileExists(environment.system + "/" + program)))
    throw ScriptError("[Run] Source executable not found: " + exe);

  // A program that cannot be started is not reported; its number is 0.
  long number = 0;
  if (std::optional<StartPlan> plan = planStart(program, parameters, environment.system))
    number = startProcess(*plan, show);
  if (number != 0 && waitMilliseconds > 0) waitForProcess(number, waitMilliseconds);
  return number;
}

}  // namespace commands

namespace {

// EXE|PARAMETERS|WAIT|SHOW[->variable]
void Run(const CommandContext& context, const CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  std::optional<long> number = commands::runProgram(context, fields[0], std::string(trim(fields[1])),
                                                    std::max(readDecimal(fields[2]), 0), fields[3] == "show");
  if (number && arguments.output) context.variables.set(*arguments.output, std::to_string(*number));
}

// NUMBER|INTERVAL|COUNT
void WaitProcess(const CommandContext& context, const CommandArguments& arguments) {
  const std::vector<std::string>& fields = arguments.fields;
  const int number = readDecimal(fields[0]);
  const int interval = readDecimal(fields[1]);
  const int count = readDecimal(fields[2]);
  // A period above ten seconds skips the wait altogether; so does a negative
  // one, which would otherwise mean waiting for ever.
  if (fields[0].empty() || count < 1 || number < 1 || interval > kLongestWaitPeriod || interval < 0) return;
  for (int period = 0; period < count; ++period) {
    if (waitForProcess(number, interval) == WaitResult::Ended) return;
    context.host.progress(kProgressStep, 0);
  }
}

// MODULE: the programs that hold $INSTALL/MODULE mapped or open are listed
// by name; the user ends them (Continue), ignores them (Try Again) or leaves
// the installer (Cancel). The processes are read from /proc directly; no
// listing file and no shell are involved.
void CheckUse(const CommandContext& context, const CommandArguments& arguments) {
  const std::string& module = arguments.text;
  const RunEnvironment& environment = context.environment;
  const std::string& install = context.installFolder;
  // Scripts are written for a file system that ignores case: "HOLDER.EXE"
  // names the installed "holder.exe".
  const std::optional<std::string> found = findIgnoringCase(install, nativePath(module));
  if (!found) return;
  const std::string& path = *found;

  std::vector<std::string> names;
  for (const RunningProcess& process : findProcessesUsingFile(path)) {
    if (std::find(names.begin(), names.end(), process.name) == names.end()) names.push_back(process.name);
  }
  if (names.empty()) return;

  // Linux offers no cheap way from a process to its window title, so the
  // programs are listed by name alone.
  std::string programs;
  for (const std::string& name : names) programs += name + "\n";
  const std::string shownPath = install + "/" + nativePath(toLowerAscii(module));

  Button answer = Button::Continue;
  if (!environment.silent) {
    Question question;
    question.id = kInUseQuestion;
    question.text = inUseText(shownPath, programs);
    question.caption = kInUseCaption;
    question.buttons = {Button::Cancel, Button::TryAgain, Button::Continue};
    question.defaultButton = Button::Continue;
    question.silentAnswer = Button::Continue;
    question.icon = Icon::Warning;
    answer = context.host.ask(question);
  }
  if (answer == Button::Continue) {
    for (const std::string& name : names) killByName(name);
  } else if (answer == Button::Cancel) {
    throw ScriptError(inUseError(shownPath));
  }
}

void Kill(const CommandContext&, const CommandArguments& arguments) { killByName(arguments.text); }

}  // namespace

namespace commands {

void registerProcessCommands() {
  registerCommand("Kill", Kill, {});
  registerCommand("Run", Run, {.fields = 4, .output = Output::Optional, .paths = pathFields(0)});
  registerCommand("WaitProcess", WaitProcess, {.fields = 3, .changesMachine = false});
  // CheckUse ends the programs that hold the file: a dry run shows it.
  registerCommand("CheckUse", CheckUse, {.paths = pathFields(0)});
}

}  // namespace commands
}  // namespace lumo
