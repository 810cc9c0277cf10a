#include "app/startup.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/exit_status.h"
#include "formats/profile_file.h"
#include "formats/resource_bundle.h"
#include "platform/atomic_file.h"
#include "platform/debug_channel.h"
#include "platform/file_handles.h"
#include "platform/file_operations.h"
#include "platform/instance_lock.h"
#include "platform/known_folders.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/sysroot.h"
#include "platform/text.h"
#include "script/script_engine.h"

namespace lumo {
namespace {

constexpr std::string_view kTemporaryScriptName = "lumo_install.ini";
constexpr std::string_view kLogFileName = "LumoInstaller.log";
constexpr std::string_view kDryRunLogName = "LumoInstaller-dry-run.log";

std::string fileContent(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

int reportNoScript() {
  Question question;
  question.id = "startup.no-script";
  question.text = std::string(kNoScriptText);
  question.caption = std::string(kInstallerCaption);
  question.buttons = {Button::Ok};
  question.icon = Icon::Warning;
  host().ask(question);
  return kExitStartupFailed;
}

// The reason goes with the text: whoever reads it on stderr or in the box
// can tell a damaged download from a damaged disk.
int reportDamaged(const std::string& why) {
  Question question;
  question.id = "startup.damaged";
  question.text = std::string(kDamagedText) + "\n" + why;
  question.caption = std::string(kInstallerCaption);
  question.buttons = {Button::Ok};
  question.icon = Icon::Error;
  host().ask(question);
  return kExitDamaged;
}

}  // namespace

int fontScaleForDpi(int dpi) { return dpi > 0 ? 960 / dpi : 10; }

void fillRunEnvironment(RunEnvironment& environment, const std::string& programPath, bool machineWide,
                        bool createCache) {
  // No screen is probed here: the dialogs read the screen's density when
  // they create their window and set the scale with fontScaleForDpi.
  environment.fontScale = fontScaleForDpi(0);

  SpecialFolders folders = specialFolders(machineWide);
  environment.system = folders.system;
  environment.desktop = folders.desktop;
  environment.curDesktop = folders.curDesktop;
  environment.smPrograms = folders.smPrograms;
  environment.installer = programPath;
  environment.curPath = programPath.substr(0, programPath.rfind('/') + 1);
  environment.appData = folders.appData;
  environment.tempDir = folders.tempDir;
  environment.programFiles = folders.programFiles;
  makeFolders(environment.tempDir);

  // Linux counts as a system of the newer generation for every choice that
  // depends on the version.
  environment.interfaceFont = std::string(kInterfaceFont);
  environment.kernel = folders.kernel;
  environment.systemName = std::string(kSystemName);
  if (createCache) makeFolders(environment.kernel + "/LumoClient/cache/");
}

std::optional<int> startUp(const CommandLine& line) {
  // A damaged installer must not begin to change the machine and fail half
  // way: every byte of it, the program part and the payload too, is read
  // against its checksum before the lock, the folders or the working script
  // are created. A file cut short or with a damaged end is damaged too, not
  // an installer without a script.
  const ResourceBundle& bundle = ResourceBundle::ofThisProgram();
  if (bundle.damaged()) return reportDamaged(bundle.error());
  if (Result<void> verified = bundle.verifyAll(); !verified) return reportDamaged(verified.why());

  // Nothing to run is known before anything is created as well.
  const std::string programPath = thisProgramPath();
  const std::string besideScript = programPath.substr(0, programPath.rfind('/') + 1) + std::string(kScriptFileName);
  std::optional<std::string> embeddedScript;
  if (!pathFileExists(besideScript)) {
    embeddedScript = bundle.load(kScriptType, kScriptId);
    if (!embeddedScript) {
      if (!bundle.error().empty()) debugOutput(bundle.error());
      return reportNoScript();
    }
  }

  // A dry run changes nothing another run could trip over, so it does not
  // keep another installer from starting either.
  if (!line.dryRun && !acquireInstanceLock(kInstanceLockName)) {
    std::fprintf(stderr, "LumoInstaller: %s (%s)\n", std::string(kSecondInstanceText).c_str(),
                 std::string(kAnotherRunText).c_str());
    return kExitAnotherRunning;
  }

  RunEnvironment& environment = runEnvironment();
  fillRunEnvironment(environment, programPath, runsAsRoot(), !line.dryRun);
  environment.iniPath = besideScript;
  environment.installMode = line.mode != RunMode::Uninstall;
  environment.silent = line.silent;
  environment.dryRun = line.dryRun;
  environment.noLaunch = line.noLaunch;
  if (line.target) environment.targetFolder = installFolderForTarget(*line.target);

  environment.logPath = environment.curPath + std::string(kLogFileName);
  if (line.dryRun) {
    // Variables the sections write go to a copy that nobody reads again;
    // the script beside the program stays as it is.
    std::string copy = environment.tempDir + "lumo_dry_run_" + std::to_string(processId()) + ".ini";
    if (!createFreshFile(copy, embeddedScript ? *embeddedScript : fileContent(besideScript))) return reportNoScript();
    environment.iniPath = copy;
    environment.logPath = environment.tempDir + std::string(kDryRunLogName);
  } else if (embeddedScript) {
    std::string copy = environment.tempDir + std::string(kTemporaryScriptName);
    // Without a copy there is no script to run. Going on would run empty
    // sections and let the first variable write create a stray install.ini
    // beside the program, which every later start would then take for the
    // real script. The temporary folder is shared, so the copy is made
    // fresh and never through a link somebody planted there.
    if (!createFreshFile(copy, *embeddedScript)) return reportNoScript();
    environment.iniPath = copy;
    environment.logPath = environment.installMode ? environment.kernel + "/LumoClient/" + std::string(kLogFileName)
                                                  : environment.tempDir + std::string(kLogFileName);
  }

  if (!openExecutionLog(environment.logPath)) debugOutput("cannot open the log " + environment.logPath);
  if (line.logFile && !openTimestampedLog(*line.logFile)) LogWarning("cannot write the log " + *line.logFile);
  ResetRunVariables();
  if (environment.noLaunch) SetVariable("autorun", "0");
  if (GetVariable("silence") == "1") environment.silent = true;
  debugOutput("start-up: mode=" + std::string(environment.installMode ? "install" : "uninstall") +
              " silent=" + (environment.silent ? "1" : "0") + (environment.dryRun ? " dry-run=1" : "") +
              " script=" + environment.iniPath + " log=" + environment.logPath);
  return std::nullopt;
}

void cleanUpDryRun() {
  const RunEnvironment& environment = runEnvironment();
  if (environment.dryRun && !environment.iniPath.empty()) static_cast<void>(deleteFile(environment.iniPath));
}

void endProcess(int status) {
  flushProfileFiles();
  closeExecutionLog();
  std::fflush(nullptr);
  exitProcessNow(status);
}

}  // namespace lumo
