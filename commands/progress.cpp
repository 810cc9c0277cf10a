// Progress and pacing: Notify, NotifyOK, SleepMiliSeconds. The first two are
// synchronous calls into the running dialog; the worker goes on only after
// the dialog has handled them.
#include <algorithm>
#include <chrono>
#include <thread>

#include "commands/families.h"
#include "script/decimal.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

void Notify(const CommandContext& context, const CommandArguments& arguments) {
  int percent = std::clamp(readDecimal(arguments.fields[1]), 0, 100);
  context.host.progress(arguments.fields[0], percent);
}

void NotifyOK(const CommandContext& context, const CommandArguments&) { context.host.installFinished(); }

void SleepMiliSeconds(const CommandContext&, const CommandArguments& arguments) {
  // A negative count has no meaning; it must not become an endless pause.
  int milliseconds = readDecimal(arguments.text);
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

namespace commands {

void registerProgressCommands() {
  registerCommand("Notify", Notify, {.fields = 2, .changesMachine = false});
  registerCommand("NotifyOK", NotifyOK, {.changesMachine = false});
  registerCommand("SleepMiliSeconds", SleepMiliSeconds, {.changesMachine = false});
}

}  // namespace commands
}  // namespace lumo
