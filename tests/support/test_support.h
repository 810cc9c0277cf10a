// Helpers shared by the tests: temporary folders, files, environment
// variables, a working script, and child processes of the built programs.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo::test {

// A fresh folder under the system's temporary folder, removed with all its
// contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(std::string_view relative) const;

 private:
  std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable for the lifetime
// of the object.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Writes bytes, creating parent folders.
void writeFile(const std::string& path, std::string_view bytes);
std::string readFile(const std::string& path);
bool pathExists(const std::string& path);

// Points the run environment's working script at `path` and writes `utf8Text`
// there in GBK with CR LF line ends (LF in the text becomes CR LF).
void useWorkingScript(const std::string& path, std::string_view utf8Text);

struct ProcessResult {
  int exitCode = -1;  // -1 when killed by a signal
  std::string out;
  std::string err;
};

// Runs a program with extra environment variables (an empty value unsets)
// and waits for it; stdin is /dev/null.
ProcessResult runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
                         const std::string& workingDir = "");

// Calls the handler registered under `verb`; the test fails when there is
// none. A ScriptError it throws goes to the caller.
void runCommand(std::string_view verb, const std::string& arguments);

// The message of the ScriptError the command throws, or "(no error)".
std::string commandError(std::string_view verb, const std::string& arguments);

// Paths of the built programs.
std::string buildPath(std::string_view relative);  // LUMO_BUILD_DIR + "/" + relative

}  // namespace lumo::test
