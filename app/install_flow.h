// The install wizard's side of the run: [installinit], [install],
// [installok] and the rollback [installfailed].
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/dialog_flow.h"

namespace lumo {

// Whether `installed` (the version of an earlier installation) is higher
// than this installer's app_version, comparing up to four numeric
// components. The empty text is never newer.
bool IsInstalledNewer(std::string_view installed);

// A recommended program the wizard offers: its number (1 to 3, the n of
// softnameN and softcheckN) and its name.
struct Offer {
  int number;
  std::string name;
};

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

  // The user's choices, written for the sections that read them.
  void chooseAutorun(bool on);
  void chooseOffer(int number, bool on);
  // The agreement link.
  void openLicense();
  // The newer-version button: opens the installed product and ends the
  // dialog as a cancelled installation.
  void openInstalledProduct();

  // The folder the wizard offers (after initialise()).
  const std::string& folder() const { return folder_; }
  bool installedIsNewer() const { return installedIsNewer_; }
  bool rollbackStarted() const { return rollbackStarted_; }
  // What the options face offers, as the script left it after [installinit].
  bool autorun() const { return autorun_; }
  const std::vector<Offer>& offers() const { return offers_; }
  bool balloonsEnabled() const { return balloonsEnabled_; }
  const std::string& title() const { return title_; }

 private:
  void onInstallComplete() override;
  // Says why the folder cannot be installed into; a silent run ends.
  void refuseFolder(const std::string& why);

  InstallWindow& wizard_;
  SectionList install_;
  std::string folder_;
  bool installedIsNewer_ = false;
  bool autorun_ = false;
  std::vector<Offer> offers_;
  bool balloonsEnabled_ = false;
  std::string title_;
  bool installing_ = false;
  bool installOkStarted_ = false;
  bool rollbackStarted_ = false;
  bool finishedPage_ = false;
  bool productLaunched_ = false;
  bool ending_ = false;  // an ending (or the product's start) is under way
};

}  // namespace lumo
