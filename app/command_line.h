// The program's command line: every switch matched as a whole argument,
// without regard to letter case, with the forms scripts and the uninstall
// entry have always used ("/s", "-s", "/S", "-uinst") kept. What a run does
// follows from the mode and the options read here, never from a text found
// somewhere inside an argument.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"

namespace lumo {

// What the process does. A run mode installs or uninstalls; the others
// answer a question and end without a window, the lock or a file written.
enum class RunMode {
  Install,
  Uninstall,           // -uinst
  Help,                // --help, -h, /?
  Version,             // --version
  List,                // --list
  Check,               // --check
  VerifyInstallation,  // --verify-installation
  Repair,              // --repair
};

struct CommandLine {
  RunMode mode = RunMode::Install;
  bool silent = false;     // -s, /s
  bool dryRun = false;     // --dry-run
  bool noLaunch = false;   // --no-launch
  // --target DIR as given; installFolderForTarget() makes the folder.
  std::optional<std::string> target;
  std::optional<int> progressFd;       // --progress-fd N
  std::optional<std::string> logFile;  // --log FILE
};

// Reads the arguments (argv without the program's own path). A failure says
// what is wrong in one line; the caller adds the usage. Nothing is looked at
// on the machine but whether a --progress-fd descriptor is open for writing
// and a --log file's folder exists.
Result<CommandLine> parseCommandLine(const std::vector<std::string>& arguments);

// Every switch, one line each, for --help and after a wrong command line.
std::string usageText();

// The install folder that "--target DIR" chooses, by the folder chooser's
// rule: the product gets its own folder in DIR unless DIR already ends with
// it (in any letter case). A relative DIR is taken from the current folder;
// trailing "/" are dropped.
std::string installFolderForTarget(const std::string& dir);

}  // namespace lumo
