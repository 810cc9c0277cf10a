// The install wizard's run: [installinit], [install], [installok] and the
// rollback [installfailed], driven by the install transition table
// (app/install_phases.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/dialog_flow.h"
#include "app/install_phases.h"

namespace lumo {

// Whether `installed` (the version of an earlier installation) is higher
// than this installer's app_version, comparing up to four numeric
// components. The empty text is never newer.
bool IsInstalledNewer(std::string_view installed);

// The folder the product gets inside the one the user chose ("/" gives
// "/Vexta").
std::string productFolderIn(std::string_view chosen);

class InstallFlow final : public DialogFlow {
 public:
  InstallFlow(DialogThread& thread, Timers& timers, FlowTimings timings = {});

  // The window the flow shows its faces in (before start()).
  void setWindow(InstallWindow& window) { window_ = &window; }
  void start() override;
  int exitStatus() const override { return lumo::exitStatus(state_); }

  void deliver(const Intent& intent) override;
  // 2022 and 2021.
  void onInstallFinished() override { handle(InstallEvent::InstallFinished); }
  void onInstallFailed() override { handle(InstallEvent::InstallFailed); }
  void onBalloon(const std::string& title, const std::string& text) override;

  const InstallState& state() const { return state_; }
  // The face the window shows now.
  InstallFace face() const;

 private:
  void onEndText(EndText text) override;
  void onInitWaitOver() override;
  void onWorkersIdle() override { handle(InstallEvent::WorkersIdle); }
  void onReportsDone() override { handle(InstallEvent::ReportsDone); }
  bool ending() const override { return state_.phase == InstallPhase::Ending; }
  DialogWindow* window() const override { return window_; }

  // Feeds one event to the table and carries out its effects; events that
  // the effects give back follow in order.
  void handle(InstallEvent event);
  void apply(InstallEffect effect);
  InstallFacts facts() const;

  InstallWindow* window_ = nullptr;
  InstallState state_;
  SectionList install_;
  bool installedIsNewer_ = false;
  std::vector<Offer> offers_;
  bool balloonsEnabled_ = false;
  bool notifyIcon_ = true;
  std::string title_;
  std::string product_;  // the product's name, for the texts of the window
  Intent intent_{Intent::CloseRequested};  // the one being handled
  std::string runFailure_;                 // why the product did not start
  std::vector<InstallEvent> pending_;
  bool handling_ = false;
};

}  // namespace lumo
