// Writes a PNG of every face of the windows, drawn offscreen from the skin
// of an installer:
//   lumo-screenshots INSTALLER OUTDIR [SCALE]
// With SCALE 2 the screen has a device pixel ratio of 2 (the windows paint
// the 2x art) and every name ends in "@2x".
// The corners cut by the window's region are transparent in the pictures,
// as they are on screen.
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <cstdio>
#include <functional>
#include <string>
#include <memory>

#include "script/run_environment.h"
#include "install_wizard_faces.h"
#include "app/startup.h"
#include "commands/families.h"
#include "ui/lumo_dialog.h"
#include "ui/message_boxes.h"
#include "ui/skin.h"
#include "ui/uninstall_dialog.h"

namespace {

using lumo::ui::CLumoDialog;

struct Face {
  const char* name;
  std::function<void(CLumoDialog&)> prepare;
};

const Face kFaces[] = {
    {"install", [](CLumoDialog&) {}},
    {"install-working",
     [](CLumoDialog& dialog) {
       dialog.setProgressBarVisible(true);
       dialog.statusLabel().setText(QStringLiteral("正在为您安装Vexta影音，请稍候"));
       dialog.showProgress(42);
     }},
};

// The uninstall dialog's faces, as its run shows them.
struct UninstallFace {
  const char* name;
  lumo::UninstallPhase phase;
  int position;
};

const UninstallFace kUninstallFaces[] = {
    {"uninstall-confirm", lumo::UninstallPhase::Confirm, 0},
    {"uninstall-removing", lumo::UninstallPhase::Removing, 42},
    {"uninstall-removed", lumo::UninstallPhase::Removed, 100},
};

// A picture takes no clicks.
class NoRun final : public lumo::IntentSink {
 public:
  void deliver(const lumo::Intent&) override {}
};

QImage shaped(QWidget& window) {
  QImage picture = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
  const QRegion shape = window.mask().isEmpty() ? QRegion(window.rect()) : window.mask();
  const int ratio = qRound(picture.devicePixelRatio());
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      if (!shape.contains(QPoint(x / ratio, y / ratio))) picture.setPixel(x, y, 0);
    }
  }
  return picture;
}

QString suffix;  // "@2x" at scale 2

bool save(const QImage& picture, const QString& path) {
  if (!picture.save(path + suffix + ".png", "PNG")) {
    std::fprintf(stderr, "lumo-screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path + suffix + ".png"));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 4 && (std::string(argv[3]) == "1" || std::string(argv[3]) == "2"))) {
    std::fputs("usage: lumo-screenshots INSTALLER OUTDIR [1|2]\n", stderr);
    return 2;
  }
  lumo::commands::registerCommandFamilies();
  qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc == 4 && std::string(argv[3]) == "2") {
    qputenv("QT_SCALE_FACTOR", "2");
    suffix = QStringLiteral("@2x");
  }
  lumo::runEnvironment().interfaceFont = std::string(lumo::kInterfaceFont);
  QApplication application(argc, argv);
  lumo::ui::installFontSubstitution();
  lumo::ui::useSkinOf(argv[1]);
  const QString out = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(out);

  bool ok = true;
  for (const Face& face : kFaces) {
    CLumoDialog dialog;
    face.prepare(dialog);
    dialog.show();
    ok = save(shaped(dialog), out + "/" + face.name) && ok;
  }
  ok = saveInstallWizardFaces([&](QWidget& window, const QString& name) {
         return save(shaped(window), out + "/" + name);
       }) && ok;
  for (const UninstallFace& face : kUninstallFaces) {
    NoRun run;
    lumo::ui::CDlgUnInstall dialog(run);
    dialog.show(lumo::UninstallFace{
        .phase = face.phase, .visible = true, .title = "Vexta影音1.4.136.6卸载程序", .clearUserData = false});
    if (face.position > 0) dialog.showProgress(face.position, "");
    ok = save(shaped(dialog), out + "/" + face.name) && ok;
  }
  std::unique_ptr<QMessageBox> box(lumo::ui::makeMessageBox(
      lumo::Question{.id = "install.failed",
                     .text = "抱歉! Vexta影音安装过程中遇到问题并且无法修复，安装即将退出！\n"
                             "安装日志详细描述了错误原因，请参考:/var/lib/LuMo/LumoClient/LumoInstaller.log",
                     .caption = "安装失败",
                     .buttons = {lumo::Button::Ok},
                     .icon = lumo::Icon::Error},
      nullptr));
  box->show();
  ok = save(box->grab().toImage(), out + "/install-failed-box") && ok;
  return ok ? 0 : 1;
}
