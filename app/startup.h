// Start-up: the single-instance guard, the run environment, the switches,
// the working script and the execution log, then the dialog of the mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "script/run_environment.h"

namespace lumo {

inline constexpr std::string_view kInstanceLockName = "Mutex_LumoInstaller";
inline constexpr std::string_view kSecondInstanceText = "已经存在一个安装实例，请稍后再执行操作！";
inline constexpr std::string_view kNoScriptText = "找不到安装配置文件！";
inline constexpr std::string_view kDamagedText = "安装程序已损坏，请重新下载安装程序。";
inline constexpr std::string_view kSystemName = "linux";
inline constexpr std::string_view kInterfaceFont = "微软雅黑";
inline constexpr std::string_view kAnotherRunText = "another installer is running; try again once it has ended";

// The script the installer carries, and the one beside the program that
// replaces it.
inline constexpr std::string_view kScriptType = "INI";
inline constexpr std::uint32_t kScriptId = 800;
inline constexpr std::string_view kScriptFileName = "install.ini";

// 960 / dots per inch (10 at 96 dpi); 10 when the screen reports nothing.
int fontScaleForDpi(int dpi);

// Fills the folders, the interface font, the system name and the font scale
// for the executable at `programPath`, and creates the temporary folder and,
// with `createCache`, the cache folder under the shared data folder.
void fillRunEnvironment(RunEnvironment& environment, const std::string& programPath, bool machineWide,
                        bool createCache = true);

// The start-up of an installation or uninstallation the command line asks
// for: the resources' checksums, the lock, the environment, the working
// script and the logs. Returns the exit status when the run ends here, or
// nothing when the dialog of the mode follows (app/run.h). A dry run takes
// no lock, creates nothing outside the temporary folder and works on a
// throw-away copy of the script there.
std::optional<int> startUp(const CommandLine& line);

// Removes what a dry run made in the temporary folder (its copy of the
// script); the log stays.
void cleanUpDryRun();

// Closes the log and ends the process with `status` at once, without running
// the runtime's clean-up (workers still running end with the process).
[[noreturn]] void endProcess(int status);

}  // namespace lumo
