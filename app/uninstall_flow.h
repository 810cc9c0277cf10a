// The uninstall dialog's side of the run: [uninstallinit], [uninstall].
#pragma once

#include <string>

#include "app/dialog_flow.h"

namespace lumo {

class UninstallFlow final : public DialogFlow {
 public:
  UninstallFlow(DialogThread& thread, UninstallWindow& window, FlowTimings timings = {});

  void initialise() override;
  // The uninstall button (or a silent start).
  void startUninstallation(bool removeUserData);
  // `cancelButton`: the request came from the dialog's cancel button.
  void onCloseRequest(bool cancelButton);
  void onCloseRequest() override { onCloseRequest(false); }

  bool installed() const { return installed_; }
  // The window's title, from the script's app_version (after initialise()).
  const std::string& title() const { return title_; }

 private:
  void onUninstallComplete() override;
  // An uninstallation that says it is done but leaves the product's folder
  // behind has failed.
  void beforeExit() override;

  UninstallWindow& dialog_;
  SectionList uninstall_;
  std::string title_;
  std::string feedbackLine_;
  bool installed_ = false;
  bool removing_ = false;
  bool removed_ = false;
};

}  // namespace lumo
