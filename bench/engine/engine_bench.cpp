// The variable store and the script engine under load:
//   - 10,000 SetVariable and 10,000 GetVariable on a working script of
//     about 20 KB (every access goes to the file, as it must);
//   - one section of 10,000 cheap command lines (progress texts with a
//     variable, pauses of 0 ms, IfThen, ClearTmp), read, expanded, logged
//     and dispatched as a real run does.
//   - writes on the default script: N SetVariable that update its own
//     variables in turn, and N that each add a new variable (the file
//     grows), for N = 1,000, 10,000 and 20,000 or the counts given as
//     arguments ("engine_bench 1000 20000").
// Prints the figures; everything lives in a temporary folder.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "commands/families.h"
#include "platform/text.h"
#include "script/dispatcher.h"
#include "script/run_environment.h"
#include "script/script_engine.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kVariables = 530;  // about 20 KB of [var]
constexpr int kOperations = 10000;
constexpr int kLines = 10000;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string variablesSection() {
  std::string text = "[var]\r\n";
  for (int i = 0; i < kVariables; ++i)
    text += "var" + std::to_string(i) + "=正在初始化安装程序的第" + std::to_string(i) + "个值\r\n";
  return text + "flag=1\r\nmsg=正在提取安装文件...\r\n";
}

std::string benchSection() {
  std::string text = "\r\n[bench]\r\n";
  const char* lines[] = {"#Notify @msg|50", "#SleepMiliSeconds 0", "#IfThen (@flag==1)->#Notify @var7|60",
                         "#ClearTmp $INSTALL\\cache"};
  for (int i = 0; i < kLines; ++i) text += std::string(lines[i % 4]) + "\r\n";
  return text;
}

void writeScript(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << lumo::utf8ToGbk(text);
}

// The keys of the default script's [var] section, in file order.
std::vector<std::string> defaultVariables(const std::string& script) {
  std::vector<std::string> keys;
  std::ifstream file(script, std::ios::binary);
  std::string line;
  bool inVar = false;
  while (std::getline(file, line)) {
    if (line.starts_with("[")) {
      inVar = line.starts_with("[var]");
      continue;
    }
    std::size_t eq = line.find('=');
    if (inVar && eq != std::string::npos && !line.starts_with(";")) keys.push_back(line.substr(0, eq));
  }
  return keys;
}

// Seconds for `count` writes on a fresh copy of the default script.
double defaultScriptWrites(const fs::path& dir, int count, bool newKeys) {
  lumo::RunEnvironment& env = lumo::runEnvironment();
  env.iniPath = (dir / "default.ini").string();
  fs::copy_file(LUMO_DEFAULT_SCRIPT, env.iniPath, fs::copy_options::overwrite_existing);
  static const std::vector<std::string> keys = defaultVariables(LUMO_DEFAULT_SCRIPT);
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    std::string key = newKeys ? "bench" + std::to_string(i) : keys[static_cast<std::size_t>(i) % keys.size()];
    lumo::SetVariable(key, "值" + std::to_string(i));
  }
  return secondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
  lumo::commands::registerCommandFamilies();
  fs::path dir = fs::temp_directory_path() / ("lumo-engine-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  lumo::RunEnvironment& env = lumo::runEnvironment();
  lumo::setInstallFolder((dir / "Vexta").string());
  lumo::openExecutionLog((dir / "LumoInstaller.log").string());

  // The variable store on a script that holds only its variables.
  env.iniPath = (dir / "variables.ini").string();
  writeScript(env.iniPath, variablesSection());
  std::uintmax_t variableBytes = fs::file_size(env.iniPath);
  auto start = Clock::now();
  for (int i = 0; i < kOperations; ++i)
    lumo::SetVariable("var" + std::to_string(i % kVariables), "值" + std::to_string(i));
  double setSeconds = secondsSince(start);
  start = Clock::now();
  std::size_t total = 0;
  for (int i = 0; i < kOperations; ++i) total += lumo::GetVariable("var" + std::to_string((i * 7) % kVariables)).size();
  double getSeconds = secondsSince(start);

  // The engine on a script with the variables and a long section.
  env.iniPath = (dir / "install.ini").string();
  writeScript(env.iniPath, variablesSection() + benchSection());
  start = Clock::now();
  lumo::SectionList list;
  lumo::ReadSection("[bench]", list);
  double readSeconds = secondsSince(start);
  std::size_t records = list.size();
  start = Clock::now();
  lumo::RunSection(list);
  double runSeconds = secondsSince(start);
  lumo::closeExecutionLog();

  std::printf("variable store: %ju-byte script, %d variables\n", variableBytes, kVariables);
  std::printf("SetVariable x %d: %.3f s (%.1f us each)\n", kOperations, setSeconds, setSeconds * 1e6 / kOperations);
  std::printf("GetVariable x %d: %.3f s (%.1f us each; %zu bytes read)\n", kOperations, getSeconds,
              getSeconds * 1e6 / kOperations, total);
  std::printf("engine: %ju-byte script\n", fs::file_size(env.iniPath));
  std::printf("ReadSection of %zu lines: %.3f s\n", records, readSeconds);
  std::printf("RunSection of %zu lines: %.3f s (%.1f us a line, log %ju bytes)\n", records, runSeconds,
              runSeconds * 1e6 / static_cast<double>(records), fs::file_size(dir / "LumoInstaller.log"));

  std::vector<int> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = {1000, 10000, 20000};
  std::printf("default script (%ju bytes), SetVariable:\n", fs::file_size(LUMO_DEFAULT_SCRIPT));
  for (int count : counts) {
    double existing = defaultScriptWrites(dir, count, false);
    double added = defaultScriptWrites(dir, count, true);
    std::printf("  x %d: %.3f s updating its variables (%.1f us each), %.3f s adding new ones (%.1f us each)\n",
                count, existing, existing * 1e6 / count, added, added * 1e6 / count);
  }
  fs::remove_all(dir);
  return 0;
}
