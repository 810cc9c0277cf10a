// The uninstall dialog: one skinned page whose face follows the removal
// (confirm, removing, removed). It only shows: the run gives it its faces
// and decides every step, the installed check included; the dialog hands
// the run the user's clicks and the clear-user-data box as intents.
#pragma once

#include <memory>

#include "app/dialog_contract.h"
#include "ui/controls.h"
#include "ui/lumo_dialog.h"

namespace lumo::ui {

class CDlgUnInstall : public CLumoDialog, public UninstallWindow {
  Q_OBJECT
 public:
  // Command ids of the dialog's controls and labels.
  static constexpr int kUninstallId = 1000;
  static constexpr int kCancelId = 1001;
  static constexpr int kOkId = 1002;
  static constexpr int kClearUserDataId = 1005;
  static constexpr int kQuestionId = 1018;
  static constexpr int kRemovedId = 1019;

  explicit CDlgUnInstall(IntentSink& run);
  ~CDlgUnInstall() override;
  using CLumoDialog::show;

  // The first visible face (confirm, once [uninstallinit] and the installed
  // check are over) shows the window titled and centred. Without an
  // installation the run ends before any face shows.
  void show(const UninstallFace& face) override;
  void showProgress(int position, const std::string& text) override;
  void showBalloon(const std::string& title, const std::string& text) override;
  Button ask(const Question& question) override;
  void setOnFirstShow(std::function<void()> hook) { onFirstShow_ = std::move(hook); }

  CPngButton& uninstallButton() { return *uninstall_; }
  CPngButton& cancelButton() { return *cancel_; }
  CPngButton& okButton() { return *ok_; }
  CPngButton& clearUserDataBox() { return *clearUserData_; }
  CColorLabel& questionLabel() { return *question_; }
  CColorLabel& removedLabel() { return *removed_; }

  // Uninstall on the confirm face, OK on the removed one.
  QAbstractButton* mainButton() override;

 private:
  void showProgressPage();
  void showRemovedPage();
  void nameProduct(const QString& product);

  IntentSink& run_;
  std::function<void()> onFirstShow_;
  bool opened_ = false;
  UninstallPhase shownPhase_ = UninstallPhase::Starting;
  CPngButton* uninstall_;
  CPngButton* cancel_;
  CPngButton* ok_;
  CPngButton* clearUserData_;
  CColorLabel* question_;
  CColorLabel* removed_;
  QString product_ = QString::fromUtf8(kDefaultProductName.data(), static_cast<qsizetype>(kDefaultProductName.size()));
};

}  // namespace lumo::ui
