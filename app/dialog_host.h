// The Host of a run with a dialog: carries every message of the workers to
// the dialog thread and returns once the flow has handled it there, as a
// synchronous window message does.
#pragma once

#include "app/dialog_flow.h"
#include "app/dialog_thread.h"
#include "script/host.h"

namespace lumo {

class DialogHost final : public Host {
 public:
  // Both must outlive every worker that may call the host.
  DialogHost(DialogThread& thread, DialogFlow& flow);

  void balloon(const std::string& title, const std::string& text) override;
  void installFailed() override;
  void installFinished() override;
  void progress(const std::string& text, int percent) override;
  // After the dialog has ended nobody answers: the silent answer.
  Button ask(const Question& question) override;
  // Straight to the flow's progress stream, on the caller's thread.
  void unpacked(std::uint64_t done, std::uint64_t total) override;

 private:
  DialogThread& thread_;
  DialogFlow& flow_;
};

}  // namespace lumo
