// Processes as the installer sees them: the list of running programs by
// executable name, ending them, starting programs the way the shell's
// "open" verb does, waiting for them through a number that stands for the
// started process, and finding the programs that hold a file.
//
// Started children are reaped by a background thread as soon as they end, so
// none is left behind as a zombie; their numbers stay valid (and report the
// process as ended) until the installer exits.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

struct RunningProcess {
  int pid = 0;
  std::string name;  // executable file name, no folder (as the system reports it)
  std::string path;  // the executable's whole path; empty when it cannot be read
};

// Every process of the system except the installer itself. The name is the
// file name of the process's executable; when the executable cannot be read
// (another user's process), the file name of its first argument, else the
// kernel's short name.
std::vector<RunningProcess> listProcesses();

// True when the executable name matches the wanted name: both lower-cased
// and compared whole ("LumoClient.EXE" matches "lumoclient.exe";
// "lumoclient" and "lumoclient.exe.bak" do not).
bool executableNameMatches(std::string_view processName, std::string_view wanted);

// Ends a process with SIGKILL. The name is checked again on a handle to the
// process, so a number that a new process took in the meantime is spared.
// Returns false when the process is gone, has another name, or may not be
// signalled.
bool terminateProcess(int pid, std::string_view expectedName);

// The parameter text of a start split into arguments as the Windows C
// runtime splits a command line: blanks and tabs separate arguments outside
// double quotes; 2n backslashes before a quote give n backslashes and the
// quote opens or closes a quoted part, 2n+1 give n backslashes and a literal
// quote; other backslashes are literal; "" inside a quoted part is a literal
// quote.
std::vector<std::string> splitCommandLine(std::string_view parameters);

// What a start runs: the program (a path, or a bare name to look up in PATH)
// and its argument vector, argv[0] included.
struct StartPlan {
  std::string program;
  std::vector<std::string> argv;
};

// Decides how to start `program` (a native path) with `parameters`, as the
// default "open" verb would: an executable file runs with the parameters
// split into arguments; any other file or folder is a document and is handed
// to xdg-open, without the parameters. A bare name is looked up in the
// current folder, then `systemFolder`, then PATH. Nothing when the name is
// empty or names nothing.
std::optional<StartPlan> planStart(const std::string& program, std::string_view parameters,
                                   const std::string& systemFolder);

// Starts the plan's program with posix_spawn (never through a shell). The
// child inherits the environment and the current folder but no descriptor
// above 2, gets default signal handling and a session of its own; `show`
// false sends its standard input and output to /dev/null. Returns the
// process number of the child (at least 1), or 0 when it could not start.
long startProcess(const StartPlan& plan, bool show);

enum class WaitResult { Ended, TimedOut, UnknownProcess };

// Waits at most `milliseconds` (0: just looks) for the started process
// behind `number` to end.
WaitResult waitForProcess(long number, int milliseconds);

// The system's process id of a started process, while it has not been
// reaped; nothing once it has ended or for an unknown number.
std::optional<int> processIdOf(long number);

// How a started process ended: its exit code, or 128 + the signal that ended
// it; nothing while it runs or for an unknown number.
std::optional<int> exitCodeOf(long number);

// The processes (not the installer itself) that have the file at `path`
// mapped into memory or open, read from /proc/*/maps and /proc/*/fd.
// Processes that may not be inspected are passed over.
std::vector<RunningProcess> findProcessesUsingFile(const std::string& path);

// Ends this process with `status` at once: no destructors and no exit
// handlers run, so threads still working cannot hold the end up.
[[noreturn]] void exitProcessNow(int status);

}  // namespace lumo
