#include "app/run.h"

#include <cstdio>

#include "app/command_line.h"
#include "app/exit_status.h"
#include "app/information_modes.h"
#include "app/install_flow.h"
#include "app/startup.h"
#include "app/uninstall_flow.h"
#include "app/worker_threads.h"
#include "platform/file_handles.h"
#include "script/execution_log.h"
#include "script/host.h"

namespace lumo {

Run::Run(Windows& windows, Options options)
    : environment_(runEnvironment()), windows_(windows), options_(options) {}

Run::~Run() {
  if (runningWorkers() > 0) {
    // A worker outlived the wait and may still reach its dialog; everything
    // stays until the process ends, which is about to happen.
    (void)host_.release(), (void)window_.release(), (void)flow_.release(), (void)thread_.release();
    (void)stream_.release();
    return;
  }
  setHost(nullptr);
  host_.reset();
  window_.reset();
  flow_.reset();
  thread_.reset();
}

int Run::start(const std::vector<std::string>& arguments) {
  Result<CommandLine> line = parseCommandLine(arguments);
  if (!line) {
    std::fprintf(stderr, "LumoInstaller: %s\n%s", line.why().c_str(), usageText().c_str());
    return kExitBadCommandLine;
  }
  if (std::optional<int> status = runInformationMode(*line)) return *status;

  if (line->progressFd) {
    keepReportDescriptor(*line->progressFd);
    stream_ = std::make_unique<ProgressStream>(*line->progressFd);
  }
  std::optional<int> ended = startUp(*line);
  const int status = ended ? *ended : runDialog();
  cleanUpDryRun();
  if (stream_) stream_->end(status);
  return status;
}

int Run::runDialog() {
  return environment_.installMode ? serve<InstallFlow, InstallWindow>(&Windows::installWindow)
                                  : serve<UninstallFlow, UninstallWindow>(&Windows::uninstallWindow);
}

template <typename Flow, typename Window>
int Run::serve(std::unique_ptr<Window> (Windows::*make)(IntentSink&)) {
  Windows& windows = environment_.silent ? (options_.silentWindows ? *options_.silentWindows : headless_) : windows_;
  // The window system opens before the dialog thread exists: a windowed
  // run's application object is the one that serves it.
  if (!environment_.silent) {
    if (int refused = windows.open(); refused >= 0) return refused;
  }
  thread_ = std::make_unique<DialogThread>();
  auto flow = std::make_unique<Flow>(*thread_, options_.timers ? *options_.timers : *thread_, options_.timings);
  flow->setProgressStream(stream_.get());
  std::unique_ptr<Window> window = (windows.*make)(*flow);
  flow->setWindow(*window);
  host_ = std::make_unique<DialogHost>(*thread_, *flow);
  setHost(host_.get());
  Flow& started = *flow;
  flow_ = std::move(flow);
  window_ = std::move(window);

  started.start();
  thread_->run();
  // The dialog has ended: messages of workers that still run are dropped.
  waitForWorkers(options_.timings.workerExitWait);
  started.beforeExit();
  const int status = started.finalStatus();
  // A run that does not complete says why, silent runs included: the exit
  // status alone tells nobody what is left to do.
  if (status != kExitOk) {
    LogWarning("The run ends with status " + std::to_string(status) + ": " + started.endingReason(status));
  }
  return status;
}

}  // namespace lumo
