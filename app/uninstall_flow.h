// The uninstall dialog's run: [uninstallinit], the installed check and
// [uninstall], driven by the uninstall transition table
// (app/uninstall_phases.h).
#pragma once

#include <string>
#include <vector>

#include "app/dialog_flow.h"
#include "app/uninstall_phases.h"

namespace lumo {

class UninstallFlow final : public DialogFlow {
 public:
  UninstallFlow(DialogThread& thread, Timers& timers, FlowTimings timings = {});

  // The window the flow shows its faces in (before start()).
  void setWindow(UninstallWindow& window) { window_ = &window; }
  void start() override;
  int exitStatus() const override { return lumo::exitStatus(state_); }
  // An uninstallation that says it is done but leaves the product's folder
  // behind has failed.
  void beforeExit() override;

  void deliver(const Intent& intent) override;
  void onBalloon(const std::string& title, const std::string& text) override;

  const UninstallState& state() const { return state_; }
  UninstallFace face() const;

 private:
  void onEndText(EndText text) override;
  void onInitWaitOver() override;
  void onWorkersIdle() override { handle(UninstallEvent::WorkersIdle); }
  void onReportsDone() override { handle(UninstallEvent::ReportsDone); }
  bool ending() const override { return state_.phase == UninstallPhase::Ending; }
  DialogWindow* window() const override { return window_; }

  void handle(UninstallEvent event);
  void apply(UninstallEffect effect);
  UninstallFacts facts() const;

  UninstallWindow* window_ = nullptr;
  UninstallState state_;
  SectionList uninstall_;
  bool installed_ = false;
  std::string refusal_;  // why the recorded folder is refused
  std::string title_;
  std::string product_;  // the product's name, for the texts of the window
  std::string feedbackAddress_;
  std::vector<UninstallEvent> pending_;
  bool handling_ = false;
};

}  // namespace lumo
