// The execution log: LumoInstaller.log in GBK. Texts are written unchanged
// (they carry their own line ends) and every line feed is written as CR LF,
// as a text-mode stream does, so "\r\n" ends up as CR CR LF in the file.
// Every text also goes to the debug channel.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace lumo {

// Deletes the file at `path` and opens it anew. Returns false when it cannot
// be created; the log then reaches the debug channel only.
bool openExecutionLog(const std::string& path);

// Flushes and closes the log (at exit), and the timestamped copy.
void closeExecutionLog();

// Opens (anew) a second log at `path` that "--log" asks for: the same texts
// in UTF-8, each line after the UTC time it was written
// ("2026-12-09T05:35:47.123Z "), carriage returns left out. False when it
// cannot be created.
bool openTimestampedLog(const std::string& path);

// The timestamp that lines of the timestamped log start with.
std::string logTimestamp(std::chrono::system_clock::time_point when);

void Log(std::string_view text);

// Writes one line (given without its line end) to the log and to stderr:
// what a run refuses, or why it ends without completing, must reach whoever
// started it, silent runs included.
void LogWarning(std::string_view line);

// The line of one executed command: verb and expanded arguments. The
// program's own typed calls of a command write it too, so the log reads the
// same as when a script line had made the call.
void logCommandLine(std::string_view verb, std::string_view arguments);

// Where a command's log lines go: the run's execution log above, or
// whatever a test gives its handlers instead. Lines are written by `write`
// alone, so a log of another kind receives exactly the texts the file would.
class ExecutionLog {
 public:
  virtual ~ExecutionLog() = default;
  // A text as Log() writes it, its line end included. May be called from
  // several threads at once.
  virtual void write(std::string_view text) = 0;
  // As LogWarning: the line to the log and to stderr.
  void warning(std::string_view line);
  // As logCommandLine.
  void commandLine(std::string_view verb, std::string_view arguments);
};

// The execution log of this process: its texts go to Log().
ExecutionLog& executionLog();

}  // namespace lumo
