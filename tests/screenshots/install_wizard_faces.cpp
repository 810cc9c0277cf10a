#include "install_wizard_faces.h"

#include <QApplication>
#include <QKeyEvent>
#include <string>
#include <vector>

#include "app/dialog_contract.h"
#include "ui/install_wizard.h"

namespace {

using lumo::InstallFace;
using lumo::InstallPhase;
using lumo::ui::CLumoInstallerDlg;

// A picture takes no clicks.
class NoRun final : public lumo::IntentSink {
 public:
  void deliver(const lumo::Intent&) override {}
};

struct WizardFace {
  const char* name;
  InstallFace face;
  int position;  // the bar, for the faces that show it
  int tabs = 0;   // Tab presses before the picture: the focus ring shows
};

const std::vector<lumo::Offer> kOffers = {{1, "看图王", true}, {2, "压缩", true}, {3, "输入法", true}};

InstallFace face(InstallPhase phase, std::vector<lumo::Offer> offers = {}) {
  return InstallFace{.phase = phase,
                     .visible = true,
                     .title = "Vexta影音1.4.136.6安装程序",
                     .folder = "/opt/Vexta",
                     .agreed = true,
                     .autorun = true,
                     .offers = std::move(offers),
                     .notifyIcon = true};
}

const WizardFace kWizardFaces[] = {
    {"wizard-options", face(InstallPhase::Options), 0},
    {"wizard-options-offers", face(InstallPhase::Options, kOffers), 0},
    {"wizard-newer-version", face(InstallPhase::NewerVersion), 0},
    {"wizard-installing", face(InstallPhase::Installing), 46},
    {"wizard-rolling-back", face(InstallPhase::RollingBack), 12},
    {"wizard-finished", face(InstallPhase::Finished), 100},
    {"wizard-options-keyboard", face(InstallPhase::Options), 0, 3},
};

// Tab as a person presses it in the window.
void pressTab(QWidget& window) {
  QWidget* target = window.focusWidget() ? window.focusWidget() : &window;
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Tab, Qt::NoModifier);
  QApplication::sendEvent(target, &release);
}

}  // namespace

bool saveInstallWizardFaces(const SaveFace& save) {
  bool ok = true;
  for (const WizardFace& shown : kWizardFaces) {
    NoRun run;
    CLumoInstallerDlg wizard(run);
    wizard.show(shown.face);
    if (shown.position > 0) wizard.showProgress(shown.position, "");
    if (shown.tabs > 0) {
      wizard.activateWindow();
      QApplication::processEvents();
      for (int i = 0; i < shown.tabs; ++i) pressTab(wizard);
    }
    ok = save(wizard, QString::fromLatin1(shown.name)) && ok;
  }
  return ok;
}
