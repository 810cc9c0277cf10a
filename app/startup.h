// Start-up: the single-instance guard, the run environment, the switches,
// the working script and the execution log, then the dialog of the mode.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/run_environment.h"

namespace lumo {

inline constexpr std::string_view kInstanceLockName = "Mutex_LumoInstaller";
inline constexpr std::string_view kSecondInstanceText = "已经存在一个安装实例，请稍后再执行操作！";
inline constexpr std::string_view kNoScriptText = "找不到安装配置文件！";
inline constexpr std::string_view kDamagedText = "安装程序已损坏，请重新下载安装程序。";
inline constexpr std::string_view kSystemName = "linux";
inline constexpr std::string_view kInterfaceFont = "微软雅黑";

struct StartupSwitches {
  bool uninstall = false;  // "-uinst"
  bool silent = false;     // "/s" or "-s"
};

// The switches are looked for as substrings of the arguments, lower-cased.
// Only the arguments count, never the program's own path: a folder named
// "my-setup" must not make every start silent.
StartupSwitches parseSwitches(const std::vector<std::string>& arguments);

// 960 / dots per inch (10 at 96 dpi); 10 when the screen reports nothing.
int fontScaleForDpi(int dpi);

// Fills the folders, the interface font, the system name and the font scale
// for the executable at `programPath`, and creates the temporary folder and
// the cache folder under the shared data folder.
void fillRunEnvironment(RunEnvironment& environment, const std::string& programPath, bool machineWide);

// The start-up with `arguments` (argv without the program name): the
// resources' checksums, the lock, the environment, the working script and
// the log. Returns the exit status when the run ends here, or nothing when
// the dialog of the mode follows (app/run.h).
std::optional<int> startUp(const std::vector<std::string>& arguments);

// Closes the log and ends the process with `status` at once, without running
// the runtime's clean-up (workers still running end with the process).
[[noreturn]] void endProcess(int status);

}  // namespace lumo
