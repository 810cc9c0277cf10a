// The uninstall dialog: one skinned page whose face follows the removal
// (confirm, removing, removed). The UninstallFlow of app/ decides every
// step, the installed check included; the dialog shows what the flow reports
// and hands it the user's clicks and the clear-user-data choice.
#pragma once

#include <memory>

#include "app/uninstall_flow.h"
#include "ui/controls.h"
#include "ui/lumo_dialog.h"
#include "ui/qt_dialog_thread.h"

namespace lumo::ui {

class CDlgUnInstall final : public CLumoDialog {
  Q_OBJECT
 public:
  // Command ids of the dialog's controls and labels.
  static constexpr int kUninstallId = 1000;
  static constexpr int kCancelId = 1001;
  static constexpr int kOkId = 1002;
  static constexpr int kClearUserDataId = 1005;
  static constexpr int kQuestionId = 1018;
  static constexpr int kRemovedId = 1019;

  CDlgUnInstall(QtDialogThread& thread, FlowTimings timings = {});
  ~CDlgUnInstall() override;

  // Shows the confirm face, titled and centred, once the flow's
  // initialisation is over ([uninstallinit] and the installed check). Without
  // an installation the flow ends the dialog before it opens.
  void open();

  CLumoDialog& dialog() { return *this; }
  UninstallFlow& flow() { return *flow_; }
  UninstallWindow& face();

  CPngButton& uninstallButton() { return *uninstall_; }
  CPngButton& cancelButton() { return *cancel_; }
  CPngButton& okButton() { return *ok_; }
  CPngButton& clearUserDataBox() { return *clearUserData_; }
  CColorLabel& questionLabel() { return *question_; }
  CColorLabel& removedLabel() { return *removed_; }

 private:
  class Face;

  void onClearUserData();
  void showProgressPage();
  void showRemovedPage();

  std::unique_ptr<Face> face_;
  std::unique_ptr<UninstallFlow> flow_;
  CPngButton* uninstall_;
  CPngButton* cancel_;
  CPngButton* ok_;
  CPngButton* clearUserData_;
  CColorLabel* question_;
  CColorLabel* removed_;
};

}  // namespace lumo::ui
