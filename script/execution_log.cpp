#include "script/execution_log.h"

#include <cstdio>
#include <mutex>

#include "platform/debug_channel.h"
#include "platform/text.h"

namespace lumo {
namespace {

struct LogFile {
  std::mutex mutex;
  std::FILE* file = nullptr;
};

LogFile& logFile() {
  static LogFile instance;
  return instance;
}

}  // namespace

bool openExecutionLog(const std::string& path) {
  LogFile& log = logFile();
  std::lock_guard lock(log.mutex);
  if (log.file) std::fclose(log.file);
  std::remove(path.c_str());
  log.file = std::fopen(path.c_str(), "wbe");
  return log.file != nullptr;
}

void closeExecutionLog() {
  LogFile& log = logFile();
  std::lock_guard lock(log.mutex);
  if (log.file) std::fclose(log.file);
  log.file = nullptr;
}

void Log(std::string_view text) {
  debugOutput(text);
  LogFile& log = logFile();
  std::string bytes = replaceAll(utf8ToGbk(text), "\n", "\r\n");
  // One write per text, so texts of different threads never mix.
  std::lock_guard lock(log.mutex);
  if (!log.file) return;
  std::fwrite(bytes.data(), 1, bytes.size(), log.file);
  std::fflush(log.file);
}

void LogWarning(std::string_view line) {
  Log(std::string(line) + "\r\n");
  std::fprintf(stderr, "LumoInstaller: %.*s\n", static_cast<int>(line.size()), line.data());
}

void logCommandLine(std::string_view verb, std::string_view arguments) {
  Log(std::string(verb) + " " + std::string(arguments) + "\r\n");
}

}  // namespace lumo
