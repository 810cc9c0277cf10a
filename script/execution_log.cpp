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
  std::FILE* timestamped = nullptr;
  bool atLineStart = true;
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
  if (log.timestamped) std::fclose(log.timestamped);
  log.timestamped = nullptr;
}

bool openTimestampedLog(const std::string& path) {
  LogFile& log = logFile();
  std::lock_guard lock(log.mutex);
  if (log.timestamped) std::fclose(log.timestamped);
  log.timestamped = std::fopen(path.c_str(), "we");
  log.atLineStart = true;
  return log.timestamped != nullptr;
}

std::string logTimestamp(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto milliseconds = floor<std::chrono::milliseconds>(when);
  const auto day = floor<days>(milliseconds);
  const year_month_day date(day);
  const hh_mm_ss time(milliseconds - day);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
  return text;
}

void Log(std::string_view text) {
  debugOutput(text);
  LogFile& log = logFile();
  std::string bytes = replaceAll(utf8ToGbk(text), "\n", "\r\n");
  // One write per text, so texts of different threads never mix.
  std::lock_guard lock(log.mutex);
  if (log.timestamped) {
    const std::string stamp = logTimestamp(std::chrono::system_clock::now());
    std::string lines;
    for (char c : text) {
      if (c == '\r') continue;
      if (log.atLineStart) lines += stamp;
      lines += c;
      log.atLineStart = c == '\n';
    }
    std::fwrite(lines.data(), 1, lines.size(), log.timestamped);
    std::fflush(log.timestamped);
  }
  if (!log.file) return;
  std::fwrite(bytes.data(), 1, bytes.size(), log.file);
  std::fflush(log.file);
}

void LogWarning(std::string_view line) { executionLog().warning(line); }

void logCommandLine(std::string_view verb, std::string_view arguments) { executionLog().commandLine(verb, arguments); }

void ExecutionLog::warning(std::string_view line) {
  write(std::string(line) + "\r\n");
  std::fprintf(stderr, "LumoInstaller: %.*s\n", static_cast<int>(line.size()), line.data());
}

void ExecutionLog::commandLine(std::string_view verb, std::string_view arguments) {
  write(std::string(verb) + " " + std::string(arguments) + "\r\n");
}

ExecutionLog& executionLog() {
  struct ProcessLog final : ExecutionLog {
    void write(std::string_view text) override { Log(text); }
  };
  static ProcessLog instance;
  return instance;
}

}  // namespace lumo
