// What the install wizard asks of the desktop: a folder chooser and the
// notification-area icon with its balloons.
#pragma once

#include <QIcon>
#include <QString>
#include <functional>

class QSystemTrayIcon;
class QWidget;

namespace lumo::ui {

// Asks the user for a folder; the empty text when the user cancels.
using FolderChooser = std::function<QString(QWidget* owner)>;

// Tests answer the folder question themselves; an empty function brings
// back the desktop's folder chooser.
void setFolderChooser(FolderChooser chooser);
QString chooseInstallFolder(QWidget* owner);

// The icon that shows the balloons of the recommended programs' downloads.
// It appears with the first balloon. Without a notification area that shows
// messages, a balloon's title and text go to the debug channel: they only
// inform.
class NotifyIcon {
 public:
  explicit NotifyIcon(QIcon icon) : icon_(std::move(icon)) {}
  ~NotifyIcon();
  NotifyIcon(const NotifyIcon&) = delete;
  NotifyIcon& operator=(const NotifyIcon&) = delete;

  void showBalloon(const QString& title, const QString& text);
  void remove();
  bool added() const { return tray_ != nullptr; }

  // The balloon record's limits, in UTF-16 units.
  static constexpr int kTitleLimit = 63;
  static constexpr int kTextLimit = 255;

 private:
  QIcon icon_;
  QSystemTrayIcon* tray_ = nullptr;
};

}  // namespace lumo::ui
