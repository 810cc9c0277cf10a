#include "install_wizard_faces.h"

#include <QTemporaryDir>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "script/run_environment.h"
#include "app/worker_threads.h"
#include "script/working_script.h"
#include "ui/install_wizard.h"

namespace {

using lumo::ui::CLumoInstallerDlg;
using Variables = std::vector<std::pair<const char*, const char*>>;

struct WizardFace {
  const char* name;
  Variables variables;
  // What the flow would have reported by the moment of the picture.
  std::function<void(CLumoInstallerDlg&)> reach;
};

const Variables kOffers = {{"softcheck1", "1"}, {"softname1", "看图王"},  {"softcheck2", "1"},
                           {"softname2", "压缩"}, {"softcheck3", "1"}, {"softname3", "输入法"}};

const WizardFace kWizardFaces[] = {
    {"wizard-options", {}, [](CLumoInstallerDlg&) {}},
    {"wizard-options-offers", kOffers, [](CLumoInstallerDlg&) {}},
    {"wizard-newer-version", {{"realversion", "9.0.0.0"}}, [](CLumoInstallerDlg&) {}},
    {"wizard-installing", {},
     [](CLumoInstallerDlg& wizard) {
       wizard.face().showInstallingPage();
       wizard.face().setProgress(46, "");
     }},
    {"wizard-rolling-back", {},
     [](CLumoInstallerDlg& wizard) {
       wizard.face().showInstallingPage();
       wizard.face().setProgress(12, "");
     }},
    {"wizard-finished", {},
     [](CLumoInstallerDlg& wizard) {
       wizard.face().showInstallingPage();
       wizard.face().setProgress(100, "");
       wizard.face().showFinishedPage();
     }},
};

}  // namespace

bool saveInstallWizardFaces(const SaveFace& save) {
  QTemporaryDir folder;
  if (!folder.isValid()) return false;
  lumo::RunEnvironment& env = lumo::runEnvironment();
  const std::string root = folder.path().toStdString();
  env.silent = false;
  env.programFiles = "/opt";
  env.iniPath = root + "/install.ini";
  env.logPath = root + "/LumoInstaller.log";
  env.tempDir = root + "/";

  bool ok = true;
  for (const WizardFace& face : kWizardFaces) {
    QFile::remove(QString::fromStdString(env.iniPath));
    lumo::SetVariable("app_version", "1.4.136.6");
    lumo::SetVariable("autorun", "1");
    for (const auto& [name, value] : face.variables) lumo::SetVariable(name, value);
    lumo::ui::QtDialogThread thread;
    lumo::FlowTimings timings;
    timings.installInitWait = std::chrono::milliseconds(1000);
    CLumoInstallerDlg wizard(thread, timings);
    wizard.flow().initialise();
    wizard.open();
    face.reach(wizard);
    ok = save(wizard, QString::fromLatin1(face.name)) && ok;
    // The init section's worker is joined before the next face rewrites the script.
    lumo::waitForWorkers(timings.workerExitWait);
  }
  return ok;
}
