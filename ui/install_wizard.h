// The install wizard: one skinned page whose face follows the installation
// (options, newer version installed, installing, rolling back, finished,
// hidden). It only shows: the run gives it its faces and decides every
// step; the wizard hands the run the user's clicks and choices as intents.
#pragma once

#include <QIcon>
#include <array>
#include <memory>

#include "app/dialog_contract.h"
#include "ui/controls.h"
#include "ui/install_wizard_shell.h"
#include "ui/lumo_dialog.h"

namespace lumo::ui {

class CLumoInstallerDlg : public CLumoDialog, public InstallWindow {
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

  explicit CLumoInstallerDlg(IntentSink& run);
  using CLumoDialog::show;
  ~CLumoInstallerDlg() override;

  // The first visible face shows the window centred on the screen, with
  // the offers of that face.
  void show(const InstallFace& face) override;
  void showProgress(int position, const std::string& text) override;
  void showBalloon(const std::string& title, const std::string& text) override;
  Button ask(const Question& question) override;
  // Runs once, when the window first shows (the start-up figure's watch).
  void setOnFirstShow(std::function<void()> hook) { onFirstShow_ = std::move(hook); }

  // The wizard's own controls; offerBox() is null for a number not offered.
  CPngButton& installButton() { return *install_; }
  CPngButton& newerButton() { return *newer_; }
  CPngButton& runAfterBox() { return *runAfter_; }
  CPngButton& agreementBox() { return *agreement_; }
  CPngButton* offerBox(int number) { return offers_[static_cast<std::size_t>(number - 1)]; }
  // The label with template id `id`; the status line for any other id.
  CColorLabel& label(int id);
  // The folder the face shows.
  const QString& folder() const { return folder_; }

  // Install on the options face, start now on the finished one, open the
  // installed version on the newer-version face; none while installing.
  QAbstractButton* mainButton() override;

 private:
  void open(const InstallFace& face);
  void onChangeFolder();
  void showFolder(const InstallFace& face);
  void showInstallingPage();
  void showFinishedPage();
  void nameProduct(const QString& product);

  IntentSink& run_;
  std::function<void()> onFirstShow_;
  bool opened_ = false;
  InstallPhase shownPhase_ = InstallPhase::Starting;
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
  QString product_ = QString::fromUtf8(kDefaultProductName.data(), static_cast<qsizetype>(kDefaultProductName.size()));
};

}  // namespace lumo::ui
