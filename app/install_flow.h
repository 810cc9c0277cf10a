// The install wizard's side of the run: [installinit], [install],
// [installok] and the rollback [installfailed].
#pragma once

#include <string>
#include <string_view>

#include "app/dialog_flow.h"

namespace lumo {

// Whether `installed` (the version of an earlier installation) is higher
// than this installer's app_version, comparing up to four numeric
// components. The empty text is never newer.
bool IsInstalledNewer(std::string_view installed);

class InstallFlow final : public DialogFlow {
 public:
  InstallFlow(DialogThread& thread, InstallWindow& window, FlowTimings timings = {});

  void initialise() override;
  // The install button (or a silent start): installs into `folder`.
  void startInstallation(const std::string& folder);
  // The install button of the Finished face: starts the product.
  void runProduct();
  // 2022: starts [installok], once per run.
  void onInstallFinished() override;
  // 2021: the first starts the rollback, a second ends the run.
  void onInstallFailed() override;
  void onCloseRequest() override;

  // The folder the wizard offers (after initialise()).
  const std::string& folder() const { return folder_; }
  bool installedIsNewer() const { return installedIsNewer_; }
  bool rollbackStarted() const { return rollbackStarted_; }

 private:
  void onInstallComplete() override;

  InstallWindow& wizard_;
  SectionList install_;
  std::string folder_;
  bool installedIsNewer_ = false;
  bool installing_ = false;
  bool installOkStarted_ = false;
  bool rollbackStarted_ = false;
  bool finishedPage_ = false;
  bool productLaunched_ = false;
};

}  // namespace lumo
