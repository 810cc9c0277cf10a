#include "ui/qt_dialogs.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QIcon>
#include <QImageReader>
#include <QScreen>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "app/exit_status.h"
#include "app/startup.h"
#include "formats/resource_bundle.h"
#include "platform/debug_channel.h"
#include "script/run_environment.h"
#include "ui/install_wizard.h"
#include "ui/skin.h"
#include "ui/uninstall_dialog.h"

namespace lumo::ui {
namespace {

constexpr const char* kNoDisplayText = "LumoInstaller: cannot open a window (%s); run with /s to install without one\n";

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Qt ends the process from inside the application object when the window
// system cannot be reached; the run ends with its documented status instead.
void onQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
  debugOutput(message.toStdString() + "\n");
  if (type != QtFatalMsg) return;
  const std::string why = "no window system answers at DISPLAY=" + environmentValue("DISPLAY");
  std::fprintf(stderr, kNoDisplayText, why.c_str());
  endProcess(kExitNoDisplay);
}

// The application object of a windowed run, with the interface font and the
// font scale of its screen.
class WindowSystem {
 public:
  WindowSystem() {
    QtMessageHandler previous = qInstallMessageHandler(onQtMessage);
    application_.emplace(argc_, argv_);
    qInstallMessageHandler(previous);
    installFontSubstitution();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      runEnvironment().fontScale = fontScaleForDpi(static_cast<int>(screen->logicalDotsPerInchX()));
    }
    if (auto bytes = ResourceBundle::loadFromThisProgram("ICON", 128)) {
      // The icon container carries several sizes; the desktop picks.
      QByteArray data = QByteArray::fromStdString(*bytes);
      QBuffer buffer(&data);
      QImageReader reader(&buffer);
      QIcon icon;
      for (int i = 0; i < std::max(reader.imageCount(), 1); ++i) {
        if (!reader.jumpToImage(i) && i > 0) break;
        QImage image = reader.read();
        if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
      }
      if (!icon.isNull()) QApplication::setWindowIcon(icon);
    }
  }

 private:
  int argc_ = 1;
  char name_[16] = "LumoInstaller";
  char* argv_[2] = {name_, nullptr};
  std::optional<QApplication> application_;
};

// Notes on the debug channel how long the first frame took after the
// initialisation (the start-up figure the benchmarks track on real runs).
class FirstFrameWatch final : public QObject {
 public:
  void start() { clock_.start(); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && clock_.isValid()) {
      debugOutput("Window: first frame " + std::to_string(clock_.elapsed()) + " ms after initialisation\n");
      watched->removeEventFilter(this);
    }
    return false;
  }

 private:
  QElapsedTimer clock_;
};

// Notes how long the window took to paint its first frame once shown.
template <typename Window>
void watchFirstFrame(Window& window) {
  auto* watch = new FirstFrameWatch;
  watch->setParent(&window);
  window.installEventFilter(watch);
  window.setOnFirstShow([watch] { watch->start(); });
}

}  // namespace

std::string missingDisplay() {
  std::string platform = environmentValue("QT_QPA_PLATFORM");
  platform = platform.substr(0, platform.find(':'));
  if (platform.empty() || platform == "xcb") {
    if (environmentValue("DISPLAY").empty()) return "DISPLAY is not set";
  } else if (platform.starts_with("wayland")) {
    if (environmentValue("WAYLAND_DISPLAY").empty()) return "WAYLAND_DISPLAY is not set";
  }
  return {};
}

int QtWindows::open() {
  if (std::string why = missingDisplay(); !why.empty()) {
    std::fprintf(stderr, kNoDisplayText, why.c_str());
    return kExitNoDisplay;
  }
  static std::unique_ptr<WindowSystem> windowSystem;  // lives until the process ends
  if (!windowSystem) windowSystem = std::make_unique<WindowSystem>();
  return -1;
}

std::unique_ptr<InstallWindow> QtWindows::installWindow(IntentSink& run) {
  auto window = std::make_unique<CLumoInstallerDlg>(run);
  watchFirstFrame(*window);
  return window;
}

std::unique_ptr<UninstallWindow> QtWindows::uninstallWindow(IntentSink& run) {
  auto window = std::make_unique<CDlgUnInstall>(run);
  watchFirstFrame(*window);
  return window;
}

}  // namespace lumo::ui
