// One run of the installer. main makes it; it owns the run environment (the
// one the script's commands read), the one install folder ($INSTALL, which
// only its flow writes), the dialog thread, the host that carries the
// workers' messages, the workers and the phase of its flow.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/dialog_contract.h"
#include "app/dialog_flow.h"
#include "app/dialog_host.h"
#include "app/dialog_thread.h"
#include "app/headless_dialogs.h"
#include "app/progress_stream.h"
#include "script/run_environment.h"

namespace lumo {

class Run {
 public:
  struct Options {
    FlowTimings timings;
    // The windows of a silent run; unset: windows that never show and give
    // the silent answers.
    Windows* silentWindows = nullptr;
    // Where the flow's timers come from; unset: the dialog thread's own.
    Timers* timers = nullptr;
  };

  // `windows` shows a run that is not silent.
  explicit Run(Windows& windows, Options options);
  explicit Run(Windows& windows) : Run(windows, Options{}) {}
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // The whole run with `arguments` (argv without the program name): the
  // command line, then a mode that answers and ends (app/information_modes.h)
  // or start-up and the dialog of the mode. Returns the exit status; a
  // wrong command line ends with kExitBadCommandLine before anything is
  // created.
  int start(const std::vector<std::string>& arguments);
  // The dialog of the mode, once start-up has filled the environment.
  int runDialog();

  RunEnvironment& environment() { return environment_; }
  // $INSTALL: the one install folder of the run.
  std::string installFolder() const { return lumo::installFolder(); }

 private:
  template <typename Flow, typename Window>
  int serve(std::unique_ptr<Window> (Windows::*make)(IntentSink&));

  RunEnvironment& environment_;
  Windows& windows_;
  Options options_;
  HeadlessWindows headless_;
  std::unique_ptr<ProgressStream> stream_;  // with "--progress-fd"; outlives the flows
  // Made per dialog; destroyed in reverse order.
  std::unique_ptr<DialogThread> thread_;
  std::unique_ptr<DialogFlow> flow_;
  std::unique_ptr<DialogWindow> window_;
  std::unique_ptr<DialogHost> host_;
};

}  // namespace lumo
