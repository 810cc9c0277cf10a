// Progress and pacing: Notify, NotifyOK, SleepMiliSeconds. The first two are
// synchronous calls into the running dialog; the worker goes on only after
// the dialog has handled them.
#include <algorithm>
#include <chrono>
#include <thread>

#include "script/decimal.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

void Notify(const std::string& arguments) {
  std::vector<std::string> fields = splitFields("Notify", arguments);
  int percent = std::clamp(readDecimal(fields[1]), 0, 100);
  host().progress(fields[0], percent);
}

void NotifyOK(const std::string&) { host().installFinished(); }

void SleepMiliSeconds(const std::string& arguments) {
  // A negative count has no meaning; it must not become an endless pause.
  int milliseconds = readDecimal(arguments);
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

const CommandRegistration registrations[] = {
    {"Notify", Notify, {.fields = 2}},
    {"NotifyOK", NotifyOK},
    {"SleepMiliSeconds", SleepMiliSeconds},
};

}  // namespace
}  // namespace lumo
