#include "ui/uninstall_dialog.h"

#include <QGuiApplication>
#include <QScreen>

#include "platform/debug_channel.h"
#include "ui/message_boxes.h"
#include "ui/skin.h"

namespace lumo::ui {
namespace {

constexpr const char* kClearUserData = "同时清除 您的使用设置、最近观看记录、本地播放缓存";

constexpr QSize kButton(112, 40);
// The buttons' right edges: the cancel button ends 19 pixels from the right,
// the uninstall button 5 pixels left of the cancel button.
constexpr int kCancelRight = 521;
constexpr int kUninstallRight = 516;
constexpr int kButtonTop = 311;
constexpr int kOkBottom = 337;
constexpr QRect kClearUserDataRect(74, 221, 340, 14);
// The two labels keep their template sizes (dialog units at 96 dpi).
constexpr QRect kQuestionRect(74, 192, 287, 21);
constexpr QRect kRemovedRect(155, 241, 266, 23);

QString text(const char* utf8) { return QString::fromUtf8(utf8); }

// The texts that name the product.
QString questionText(const QString& product) { return text("您确认要卸载 ") + product + text(" 及其全部组件吗？"); }
QString removedText(const QString& product) { return product + text("已成功从您的计算机中卸载。"); }
QString removingText(const QString& product) { return text("正在为您卸载") + product + text("，请稍候"); }

CPngButton* makeButton(int id, int normal, int hover, QPoint place, const char* name, QWidget* parent) {
  auto* button = new CPngButton(id, kButton, parent);
  button->setAccessibleName(text(name));
  button->loadImage(CPngButton::Normal, normal);
  button->loadImage(CPngButton::Hover, hover);
  button->loadImage(CPngButton::Disabled, normal);
  button->move(place);
  return button;
}

}  // namespace

CDlgUnInstall::CDlgUnInstall(IntentSink& run) : run_(run) {
  cancel_ = makeButton(kCancelId, skin::kCancelNormal, skin::kCancelHover, {kCancelRight - kButton.width(), kButtonTop},
                       "取消", this);
  uninstall_ = makeButton(kUninstallId, skin::kUninstallNormal, skin::kUninstallHover,
                          {kUninstallRight - kButton.width() - cancel_->width(), kButtonTop}, "卸载", this);
  ok_ = makeButton(kOkId, skin::kOkNormal, skin::kOkHover, {(kWidth - kButton.width()) / 2, kOkBottom - kButton.height()},
                   "完成", this);
  ok_->hide();

  clearUserData_ = new CPngButton(kClearUserDataId, kClearUserDataRect.size(), this);
  clearUserData_->loadImage(CPngButton::Normal, skin::kBoxNormal);
  clearUserData_->loadImage(CPngButton::Hover, skin::kBoxHover);
  clearUserData_->loadImage(CPngButton::Disabled, skin::kBoxNormal);
  clearUserData_->loadImage(CPngButton::Checked, skin::kBoxChecked);
  clearUserData_->loadImage(CPngButton::CheckedHover, skin::kBoxCheckedHover);
  clearUserData_->loadImage(CPngButton::CheckedDisabled, skin::kBoxChecked);
  clearUserData_->setCaption(text(kClearUserData));
  clearUserData_->move(kClearUserDataRect.topLeft());

  question_ = new CColorLabel(this, questionText(product_));
  question_->setGeometry(kQuestionRect);
  removed_ = new CColorLabel(this, removedText(product_));
  removed_->setGeometry(kRemovedRect);
  removed_->hide();

  statusLabel().setText(removingText(product_));
  statusLabel().hide();
  // Visible from the start, empty until the first progress message.
  percentageLabel().clear();
  percentageLabel().show();

  // Every click is an intent; what it means is the run's decision.
  const auto deliver = [this](Intent::Kind kind) { return [this, kind] { run_.deliver(Intent(kind)); }; };
  connect(uninstall_, &QAbstractButton::clicked, this, deliver(Intent::UninstallPressed));
  connect(cancel_, &QAbstractButton::clicked, this, deliver(Intent::CancelPressed));
  connect(ok_, &QAbstractButton::clicked, this, deliver(Intent::OkPressed));
  connect(this, &CLumoDialog::closeRequested, this, deliver(Intent::CloseRequested));
  // A box that cannot show itself ticked is never ticked.
  connect(clearUserData_, &QAbstractButton::clicked, this, [this] {
    if (clearUserData_->hasCheckedImages()) run_.deliver(Intent(Intent::BoxToggled));
  });
}

CDlgUnInstall::~CDlgUnInstall() = default;

void CDlgUnInstall::show(const UninstallFace& face) {
  using enum UninstallPhase;
  // The taskbar shows the title; the surface has no title bar.
  setWindowTitle(QString::fromStdString(face.title));
  nameProduct(QString::fromStdString(face.product));
  if (!face.visible) {
    hide();
    return;
  }
  clearUserData_->setCheckedFlag(face.clearUserData);
  if (face.phase == Removing) showProgressPage();
  if (face.phase == Removed) {
    showProgressPage();
    showRemovedPage();
  }
  update();
  const bool newFace = !opened_ || face.phase != shownPhase_;
  shownPhase_ = face.phase;
  if (!isVisible()) {
    const bool first = !opened_;
    opened_ = true;
    if (first) centreOnScreen();
    CLumoDialog::show();
    if (first && onFirstShow_) onFirstShow_();
  }
  // Each new face starts with the focus on its main button.
  if (newFace) focusMainButton();
}

QAbstractButton* CDlgUnInstall::mainButton() {
  switch (shownPhase_) {
    case UninstallPhase::Confirm: return uninstall_;
    case UninstallPhase::Removed: return ok_;
    default: return nullptr;
  }
}

void CDlgUnInstall::nameProduct(const QString& product) {
  if (product == product_) return;
  product_ = product;
  question_->setText(questionText(product));
  removed_->setText(removedText(product));
  statusLabel().setText(removingText(product));
}

void CDlgUnInstall::showProgress(int position, const std::string&) { CLumoDialog::showProgress(position); }

void CDlgUnInstall::showBalloon(const std::string& title, const std::string& text) {
  debugOutput("Balloon: " + title + ": " + text + "\n");
}

Button CDlgUnInstall::ask(const Question& question) {
  return messageBoxes().ask(question, isVisible() ? this : nullptr);
}

void CDlgUnInstall::showProgressPage() {
  uninstall_->hide();
  cancel_->hide();
  closeButton().setEnabled(false);
  setProgressBarVisible(true);
  statusLabel().show();
  clearUserData_->hide();
  question_->hide();
}

void CDlgUnInstall::showRemovedPage() {
  setProgressBarVisible(false);
  statusLabel().hide();
  removed_->show();
  ok_->show();
  closeButton().setEnabled(true);
}

}  // namespace lumo::ui
