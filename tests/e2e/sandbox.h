// A sandbox for whole installer runs: a machine-wide root (LUMO_SYSROOT), a
// home, a temporary folder and a runtime folder, all inside one temporary
// folder, with a copy of the default installer. Reports go to a closed
// loopback port, so nothing leaves the machine.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace lumo::test {

class Sandbox {
 public:
  Sandbox();

  const std::string& root() const { return dir_.path(); }
  std::string sys() const { return dir_ / "sys"; }
  std::string home() const { return dir_ / "home"; }
  std::string tmp() const { return dir_ / "tmp"; }
  std::string dist() const { return dir_ / "dist"; }
  // The copy of the default installer in dist/.
  std::string installer() const { return dist() + "/LumoInstaller"; }

  // Where the default script puts things, as start-up maps them for root.
  std::string installDir() const { return sys() + "/opt/Vexta"; }
  std::string kernel() const { return sys() + "/var/lib/LuMo"; }
  // A machine-wide installation keeps its uninstaller and autostart entry in
  // the machine-wide configuration folder, where every administrator finds them.
  std::string appData() const { return sys() + "/etc/xdg"; }
  std::string uninstaller() const { return appData() + "/Lumo/Installer/LumoInstaller"; }
  // The desktop's shared data: menu entries, icon theme, MIME types.
  std::string share() const { return sys() + "/usr/share"; }
  std::string menu() const { return share() + "/applications/Vexta影音"; }

  std::map<std::string, std::string> environment() const;
  ProcessResult run(const std::string& program, const std::vector<std::string>& args) const;
  // The same as an ordinary user (uid and gid 65534) when this process is
  // root, with the sandbox's home, temporary and runtime folders given to
  // that user; as it is otherwise.
  ProcessResult runAsUser(const std::string& program, const std::vector<std::string>& args) const;
  // build/lumo-reg with the sandbox's environment.
  ProcessResult reg(const std::vector<std::string>& args) const;
  // The data of one value, from "lumo-reg query KEY VALUE"; empty when absent.
  std::string regValue(const std::string& key, const std::string& value) const;

  // Every file, folder and registry entry of the sandbox (dist/ and the
  // temporary folder left out), as relative paths and "REG ROOT\key[value]".
  std::set<std::string> snapshot() const;

 private:
  TempDir dir_;
};

// The key under which the default script records the install folder.
inline constexpr const char* kTarnKey = "HKEY_LOCAL_MACHINE\\Software\\LuMo\\Tarn";

inline ProcessResult installSilently(const Sandbox& box) { return box.run(box.installer(), {"/s"}); }
inline ProcessResult uninstallSilently(const Sandbox& box) { return box.run(box.installer(), {"-uinst", "/s"}); }

// What is in `after` and not in `before`, less what may stay after an
// uninstallation or a rollback: logs, the machine identity (file and
// registry value), the registry store's files and the folders that hold
// them, and standard folders that a desktop has anyway.
std::vector<std::string> leftovers(const std::set<std::string>& before, const std::set<std::string>& after,
                                   const std::vector<std::string>& alsoAllowed = {});

// The command lines of a section of a script text (UTF-8), in order, with
// their index in the text's lines.
struct ScriptLine {
  std::size_t lineIndex;
  std::string text;
};
std::vector<ScriptLine> commandLines(const std::vector<std::string>& lines, const std::string& header);

// The default script as UTF-8 lines, and back to GBK with CR LF.
std::vector<std::string> defaultScriptLines();
std::string toScriptBytes(const std::vector<std::string>& lines);

}  // namespace lumo::test
