// The install wizard: one skinned page whose face follows the installation
// (options, newer version installed, installing, rolling back, finished,
// hidden). The InstallFlow of app/ decides every step; the wizard shows
// what the flow reports and hands it the user's clicks and choices.
#pragma once

#include <QIcon>
#include <array>
#include <memory>

#include "app/install_flow.h"
#include "ui/controls.h"
#include "ui/install_wizard_shell.h"
#include "ui/lumo_dialog.h"
#include "ui/qt_dialog_thread.h"

namespace lumo::ui {

class CLumoInstallerDlg final : public CLumoDialog {
  Q_OBJECT
 public:
  // Command ids of the wizard's controls and labels.
  static constexpr int kInstallId = 1004;
  static constexpr int kRunAfterId = 1007;
  static constexpr int kChangeFolderId = 1008;
  static constexpr int kFolderId = 1009;
  static constexpr int kAgreementId = 1012;
  static constexpr int kFirstOfferId = 1013;  // 1013 to 1015: softname1 to softname3
  static constexpr int kOffersCaptionId = 1016;
  static constexpr int kFolderCaptionId = 1017;
  static constexpr int kContinueId = 1018;
  static constexpr int kInstalledId = 1020;
  static constexpr int kLicenseId = 1021;
  static constexpr int kNewerId = 1058;

  CLumoInstallerDlg(QtDialogThread& thread, FlowTimings timings = {});
  ~CLumoInstallerDlg() override;

  // The flow's initialisation is over: fills the options face from what
  // the script left, and shows the window centred on the screen.
  void open();

  CLumoDialog& dialog() { return *this; }
  InstallFlow& flow() { return *flow_; }
  InstallWindow& face();

  // The wizard's own controls; offerBox() is null for a number not offered.
  CPngButton& installButton() { return *install_; }
  CPngButton& newerButton() { return *newer_; }
  CPngButton& runAfterBox() { return *runAfter_; }
  CPngButton& agreementBox() { return *agreement_; }
  CPngButton* offerBox(int number) { return offers_[static_cast<std::size_t>(number - 1)]; }
  // The label with template id `id`; the status line for any other id.
  CColorLabel& label(int id);
  const QString& folder() const { return folder_; }

 private:
  class Face;

  void onInstallButton();
  void onContinue();
  void onAgreement();
  void onRunAfter();
  void onOffer(int number);
  void onChangeFolder();
  void showFolder();
  void showInstallingPage();
  void showFinishedPage();

  std::unique_ptr<Face> face_;
  std::unique_ptr<InstallFlow> flow_;
  QIcon icon_;
  NotifyIcon notifyIcon_;
  CPngButton* install_;
  CPngButton* newer_;
  CPngButton* runAfter_;
  CPngButton* agreement_;
  std::array<CPngButton*, 3> offers_{};
  CColorLabel* change_;
  CColorLabel* folderLabel_;
  CColorLabel* license_;
  CColorLabel* folderCaption_;
  CColorLabel* offersCaption_;
  CColorLabel* installed_;
  CColorLabel* continue_;
  QString folder_;
};

}  // namespace lumo::ui
