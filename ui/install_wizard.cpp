#include "ui/install_wizard.h"

#include <QApplication>
#include <QPixmap>
#include <QScreen>

#include "formats/resource_bundle.h"
#include "script/run_environment.h"
#include "ui/message_boxes.h"
#include "ui/install_wizard_text.h"
#include "ui/skin.h"

namespace lumo::ui {
namespace {

constexpr const char* kFolderCaption = "软件将安装至:";
constexpr const char* kChangeFolder = "更改";
constexpr const char* kOffersCaption = "安装精品软件:";
constexpr const char* kContinue = "继续安装>>";
constexpr const char* kAgreement = "已阅读并同意";
// The install button's captions are in its images; a screen reader reads these.
constexpr const char* kInstallName = "立即安装";
constexpr const char* kInstallingName = "正在安装";
constexpr const char* kStartNowName = "立即体验";
constexpr const char* kNewerName = "打开Vexta影音";
constexpr const char* kFontWithCaptionImage = "微软雅黑";

constexpr QSize kBigButton(200, 65);
constexpr QPoint kBigButtonPlace((CLumoDialog::kWidth - 200) / 2, 363 - 65);
constexpr QPoint kAgreementPlace(55, 213);
constexpr QPoint kRunAfterPlace(55, 241);
constexpr int kOffersTop = 270;
constexpr int kOffersLeft = 150;
constexpr int kOfferGap = 10;
constexpr int kOfferCharacterWidth = 15;
constexpr int kBoxHeight = 14;
constexpr int kProgramIconId = 128;

// The labels' places: where the wizard puts them, or for 1020 and 1018 their
// template rectangles at 96 dpi.
constexpr QRect kFolderCaptionRect(55, 180, 91, 18);
constexpr QRect kFolderRect(150, 180, 156, 21);
constexpr QSize kChangeFolderSize(26, 17);
constexpr QRect kOffersCaptionRect(55, 268, 94, 16);
constexpr QRect kInstalledRect(183, 186, 179, 21);
constexpr QRect kLicenseRect(152, 211, 226, 19);
constexpr QRect kContinueRect(389, 341, 81, 17);

QString text(const char* utf8) { return QString::fromUtf8(utf8); }

// The texts that name the product.
QString installedText(const QString& product) { return product + text("已成功安装"); }
QString licenseText(const QString& product, bool agreed) {
  return text("《") + product + text("软件用户使用协议》") + (agreed ? QString() : QStringLiteral("!"));
}
QString runAfterText(const QString& product) { return text("安装成功后运行 ") + product; }
QString installingText(const QString& product) { return text("正在为您安装") + product + text("，请稍候"); }

void loadCheckBoxImages(CPngButton& box) {
  box.loadImage(CPngButton::Normal, skin::kBoxNormal);
  box.loadImage(CPngButton::Hover, skin::kBoxHover);
  box.loadImage(CPngButton::Disabled, skin::kBoxNormal);
  box.loadImage(CPngButton::Checked, skin::kBoxChecked);
  box.loadImage(CPngButton::CheckedHover, skin::kBoxCheckedHover);
  box.loadImage(CPngButton::CheckedDisabled, skin::kBoxChecked);
}

CPngButton* makeCheckBox(int id, int width, const QString& caption, QPoint place, QWidget* parent) {
  auto* box = new CPngButton(id, QSize(width, kBoxHeight), parent);
  loadCheckBoxImages(*box);
  box->setCaption(caption);
  box->move(place);
  return box;
}

CColorLabel* makeLabel(const QString& caption, const QRect& place, QWidget* parent) {
  auto* label = new CColorLabel(parent, caption);
  label->setGeometry(place);
  return label;
}

// The program icon the installer carries; the application's icon without it.
QIcon programIcon() {
  if (auto bytes = ResourceBundle::loadFromThisProgram("ICON", kProgramIconId)) {
    QPixmap pixmap;
    if (pixmap.loadFromData(reinterpret_cast<const uchar*>(bytes->data()), static_cast<uint>(bytes->size()))) {
      return QIcon(pixmap);
    }
  }
  return QApplication::windowIcon();
}

}  // namespace

CLumoInstallerDlg::CLumoInstallerDlg(IntentSink& run) : run_(run), icon_(programIcon()), notifyIcon_(icon_) {
  setWindowIcon(icon_);

  install_ = new CPngButton(kInstallId, kBigButton, this);
  install_->loadImage(CPngButton::Normal, skin::kInstallNormal);
  install_->loadImage(CPngButton::Hover, skin::kInstallHover);
  install_->loadImage(CPngButton::Disabled, skin::kInstallDisabled);
  install_->loadImage(CPngButton::Checked, skin::kInstallChecked);
  install_->loadImage(CPngButton::CheckedHover, skin::kInstallCheckedHover);
  install_->loadImage(CPngButton::CheckedDisabled, skin::kInstallCheckedDisabled);
  install_->move(kBigButtonPlace);
  install_->setAccessibleName(text(kInstallName));
  newer_ = new CPngButton(kNewerId, kBigButton, this);
  newer_->loadImage(CPngButton::Normal, skin::kNewerNormal);
  newer_->loadImage(CPngButton::Hover, skin::kNewerHover);
  newer_->loadImage(CPngButton::Disabled, skin::kNewerNormal);
  newer_->move(kBigButtonPlace);
  newer_->setAccessibleName(text(kNewerName));
  newer_->hide();

  agreement_ = makeCheckBox(kAgreementId, 100, text(kAgreement), kAgreementPlace, this);
  agreement_->setCheckedFlag(true);
  agreement_->setAlertWhenUnchecked(true);
  runAfter_ = makeCheckBox(kRunAfterId, 180, runAfterText(product_), kRunAfterPlace, this);

  folderCaption_ = makeLabel(text(kFolderCaption), kFolderCaptionRect, this);
  folderLabel_ = makeLabel(QString(), kFolderRect, this);
  change_ = makeLabel(text(kChangeFolder), QRect(kFolderRect.topRight() + QPoint(6, 0), kChangeFolderSize), this);
  offersCaption_ = makeLabel(text(kOffersCaption), kOffersCaptionRect, this);
  offersCaption_->hide();
  installed_ = makeLabel(installedText(product_), kInstalledRect, this);
  installed_->hide();
  license_ = makeLabel(licenseText(product_, true), kLicenseRect, this);
  continue_ = makeLabel(text(kContinue), kContinueRect, this);
  continue_->hide();
  for (CColorLabel* link : {change_, continue_}) {
    link->setLink(true);
    link->setUnderline();
  }
  license_->setLink(true);
  license_->setCursor(Qt::PointingHandCursor);
  continue_->setCursor(Qt::PointingHandCursor);
  statusLabel().setText(installingText(product_));
  statusLabel().hide();

  // Every click is an intent; what it means is the run's decision.
  const auto deliver = [this](Intent::Kind kind) { return [this, kind] { run_.deliver(Intent(kind)); }; };
  connect(install_, &QAbstractButton::clicked, this, deliver(Intent::InstallPressed));
  connect(newer_, &QAbstractButton::clicked, this, deliver(Intent::OpenInstalledPressed));
  connect(continue_, &CColorLabel::clicked, this, deliver(Intent::ContinuePressed));
  connect(agreement_, &QAbstractButton::clicked, this, deliver(Intent::AgreementToggled));
  connect(runAfter_, &QAbstractButton::clicked, this, deliver(Intent::AutorunToggled));
  connect(license_, &CColorLabel::clicked, this, deliver(Intent::LicensePressed));
  connect(this, &CLumoDialog::closeRequested, this, deliver(Intent::CloseRequested));
  connect(change_, &CColorLabel::clicked, this, [this] { onChangeFolder(); });
}

CLumoInstallerDlg::~CLumoInstallerDlg() = default;

CColorLabel& CLumoInstallerDlg::label(int id) {
  switch (id) {
    case kChangeFolderId: return *change_;
    case kFolderId: return *folderLabel_;
    case kLicenseId: return *license_;
    case kFolderCaptionId: return *folderCaption_;
    case kOffersCaptionId: return *offersCaption_;
    case kInstalledId: return *installed_;
    case kContinueId: return *continue_;
    default: return statusLabel();
  }
}

void CLumoInstallerDlg::open(const InstallFace& face) {
  opened_ = true;
  int x = kOffersLeft;
  for (const Offer& offer : face.offers) {
    const QString name = QString::fromStdString(offer.name);
    const int width = (static_cast<int>(name.size()) + 1) * kOfferCharacterWidth;
    CPngButton* box = makeCheckBox(kAgreementId + offer.number, width, name, QPoint(x, kOffersTop), this);
    const int number = offer.number;
    connect(box, &QAbstractButton::clicked, this, [this, number] {
      run_.deliver(Intent(Intent::OfferToggled, number));
    });
    offers_[static_cast<std::size_t>(number - 1)] = box;
    x += width + kOfferGap;
    // The skin draws this caption as an image for the font it was made for.
    if (runEnvironment().interfaceFont == kFontWithCaptionImage) {
      setRecommendedCaption(offersCaption_);
    } else {
      offersCaption_->show();
    }
  }
  centreOnScreen();
}

QAbstractButton* CLumoInstallerDlg::mainButton() {
  using enum InstallPhase;
  switch (shownPhase_) {
    case Options:
    case Finished: return install_;
    case NewerVersion: return newer_;
    default: return nullptr;
  }
}

void CLumoInstallerDlg::show(const InstallFace& face) {
  using enum InstallPhase;
  setWindowTitle(QString::fromStdString(face.title));
  nameProduct(QString::fromStdString(face.product));
  if (!face.notifyIcon) notifyIcon_.remove();
  if (!face.visible) {
    hide();
    return;
  }
  const bool first = !opened_;
  if (first) open(face);

  const bool choosing = face.phase == Options || face.phase == NewerVersion;
  if (choosing) {
    runAfter_->setCheckedFlag(face.autorun);
    for (const Offer& offer : face.offers) {
      if (CPngButton* box = offerBox(offer.number)) box->setCheckedFlag(offer.checked);
    }
    agreement_->setCheckedFlag(face.agreed);
    install_->setEnabled(face.agreed);
    license_->setText(licenseText(product_, face.agreed));
    license_->setActive(face.agreed);
    install_->setVisible(face.phase == Options);
    newer_->setVisible(face.phase == NewerVersion);
    continue_->setVisible(face.phase == NewerVersion && face.agreed);
    showFolder(face);
  } else if (face.phase == Installing || face.phase == RollingBack) {
    install_->show();
    newer_->hide();
    continue_->hide();
    showInstallingPage();
  } else if (face.phase == Finished) {
    showInstallingPage();
    showFinishedPage();
  }
  update();
  const bool newFace = first || face.phase != shownPhase_;
  shownPhase_ = face.phase;
  if (!isVisible()) {
    CLumoDialog::show();
    if (first && onFirstShow_) onFirstShow_();
  }
  // Each new face starts with the focus on its main button.
  if (newFace) focusMainButton();
}

void CLumoInstallerDlg::nameProduct(const QString& product) {
  if (product == product_) return;
  product_ = product;
  runAfter_->setCaption(runAfterText(product));
  installed_->setText(installedText(product));
  license_->setText(licenseText(product, agreement_->checkedFlag()));
  statusLabel().setText(installingText(product));
}

void CLumoInstallerDlg::showProgress(int position, const std::string&) { CLumoDialog::showProgress(position); }

void CLumoInstallerDlg::showBalloon(const std::string& title, const std::string& text) {
  notifyIcon_.showBalloon(QString::fromStdString(title), QString::fromStdString(text));
}

Button CLumoInstallerDlg::ask(const Question& question) {
  return messageBoxes().ask(question, isVisible() ? this : nullptr);
}

void CLumoInstallerDlg::showFolder(const InstallFace& face) {
  folder_ = QString::fromStdString(face.folder);
  if (auto row = FitFolderLabel(folder_, folderLabel_->pos())) {
    folderLabel_->setGeometry(row->label);
    change_->move(row->link);
  }
  // Cut to what the label can show, an earlier folder as a chosen one.
  folderLabel_->setElidedText(folder_);
}

void CLumoInstallerDlg::onChangeFolder() {
  const QString chosen = chooseInstallFolder(this);
  if (chosen.isEmpty()) return;
  run_.deliver(Intent(Intent::FolderChosen, 0, chosen.toStdString()));
}

void CLumoInstallerDlg::showInstallingPage() {
  install_->setAccessibleName(text(kInstallingName));
  install_->setCheckedFlag(true);
  install_->setEnabled(false);
  setProgressBarVisible(true);
  statusLabel().show();
  agreement_->hide();
  runAfter_->hide();
  setRecommendedCaption(nullptr);
  offersCaption_->hide();
  for (CPngButton* box : offers_) {
    if (box) box->hide();
  }
  for (CColorLabel* label : {folderCaption_, folderLabel_, change_, license_}) label->hide();
  closeButton().setEnabled(false);
}

void CLumoInstallerDlg::showFinishedPage() {
  statusLabel().hide();
  installed_->show();
  closeButton().setEnabled(true);
  install_->setCheckedFlag(true);
  install_->setEnabled(true);
  install_->setAccessibleName(text(kStartNowName));
}

}  // namespace lumo::ui
