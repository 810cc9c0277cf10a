#include "ui/install_wizard_shell.h"

#include <QFileDialog>
#include <QSystemTrayIcon>

#include "script/run_environment.h"
#include "platform/debug_channel.h"

namespace lumo::ui {
namespace {

constexpr const char* kChooserTitle = "选择安装目录";
constexpr const char* kNotifyTip = "正在为您安装推荐软件";
constexpr int kBalloonMilliseconds = 3000;

FolderChooser& folderChooser() {
  static FolderChooser chooser;
  return chooser;
}

}  // namespace

void setFolderChooser(FolderChooser chooser) { folderChooser() = std::move(chooser); }

QString chooseInstallFolder(QWidget* owner) {
  if (folderChooser()) return folderChooser()(owner);
  // The chooser starts at the desktop, where a person expects to begin.
  return QFileDialog::getExistingDirectory(owner, QString::fromUtf8(kChooserTitle),
                                           QString::fromStdString(runEnvironment().curDesktop),
                                           QFileDialog::ShowDirsOnly);
}

NotifyIcon::~NotifyIcon() { remove(); }

void NotifyIcon::showBalloon(const QString& title, const QString& text) {
  const QString shownTitle = title.left(kTitleLimit);
  const QString shownText = text.left(kTextLimit);
  if (!QSystemTrayIcon::isSystemTrayAvailable() || !QSystemTrayIcon::supportsMessages()) {
    debugOutput("Balloon: " + shownTitle.toStdString() + ": " + shownText.toStdString() + "\n");
    return;
  }
  if (!tray_) {
    tray_ = new QSystemTrayIcon(icon_);
    tray_->setToolTip(QString::fromUtf8(kNotifyTip));
    tray_->show();
  }
  tray_->showMessage(shownTitle, shownText, QSystemTrayIcon::NoIcon, kBalloonMilliseconds);
}

void NotifyIcon::remove() {
  delete tray_;
  tray_ = nullptr;
}

}  // namespace lumo::ui
