#include "e2e/sandbox.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "formats/registry_store.h"
#include "platform/text.h"

namespace lumo::test {

namespace fs = std::filesystem;

Sandbox::Sandbox() {
  for (const char* sub : {"sys", "home", "tmp", "run", "dist"}) fs::create_directories(dir_ / sub);
  fs::copy_file(buildPath("LumoInstaller"), installer());
}

std::map<std::string, std::string> Sandbox::environment() const {
  // An empty value unsets the variable for the child.
  return {
      {"LUMO_SYSROOT", sys()},
      {"HOME", home()},
      {"TMPDIR", tmp()},
      {"XDG_RUNTIME_DIR", dir_ / "run"},
      {"XDG_CONFIG_HOME", ""},
      {"XDG_DATA_HOME", ""},
      {"XDG_DESKTOP_DIR", ""},
      {"LUMO_STATS_URL", "http://127.0.0.1:1"},
      {"LUMO_DEBUG", ""},
      {"DBUS_SESSION_BUS_ADDRESS", ""},
      {"DISPLAY", ""},
      {"WAYLAND_DISPLAY", ""},
  };
}

ProcessResult Sandbox::run(const std::string& program, const std::vector<std::string>& args) const {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, environment(), root());
}

ProcessResult Sandbox::runAsUser(const std::string& program, const std::vector<std::string>& args) const {
  if (::geteuid() != 0) return run(program, args);
  constexpr unsigned kUser = 65534;
  fs::permissions(root(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  for (const char* sub : {"home", "tmp", "run"}) {
    const fs::path top = dir_ / sub;
    if (::chown(top.c_str(), kUser, kUser) != 0) throw std::runtime_error("cannot give " + top.string() + " away");
    for (const auto& entry : fs::recursive_directory_iterator(top))
      if (::lchown(entry.path().c_str(), kUser, kUser) != 0) throw std::runtime_error("cannot give files away");
  }
  std::vector<std::string> argv{"/usr/bin/setpriv", "--reuid=" + std::to_string(kUser),
                                "--regid=" + std::to_string(kUser), "--clear-groups", "--", program};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, environment(), root());
}

ProcessResult Sandbox::reg(const std::vector<std::string>& args) const { return run(buildPath("lumo-reg"), args); }

std::string Sandbox::regValue(const std::string& key, const std::string& value) const {
  ProcessResult result = reg({"query", key, value});
  if (result.exitCode != 0) return "";
  // The value's line reads "    NAME    REG_SZ    DATA".
  std::size_t type = result.out.find("REG_SZ");
  if (type == std::string::npos) return "";
  std::size_t end = result.out.find('\n', type);
  return std::string(trim(result.out.substr(type + 6, end == std::string::npos ? end : end - type - 6)));
}

namespace {

void dumpKey(const RegistryKey& key, const std::string& path, std::set<std::string>& out) {
  out.insert("K " + path);
  for (std::uint32_t i = 0;; ++i) {
    RegistryResult<NamedRegistryValue> value = enumValue(key, i);
    if (!value) break;
    out.insert("V " + path + "[" + value->name + "]");
  }
  for (std::uint32_t i = 0;; ++i) {
    RegistryResult<std::string> name = enumSubkey(key, i, 1024);
    if (!name) break;
    if (RegistryResult<RegistryKey> child = openKey(key, *name)) dumpKey(*child, path + "\\" + *name, out);
  }
}

}  // namespace

std::set<std::string> Sandbox::snapshot() const {
  std::set<std::string> entries;
  const fs::path base(root());
  for (auto it = fs::recursive_directory_iterator(base); it != fs::recursive_directory_iterator(); ++it) {
    std::string relative = fs::relative(it->path(), base).string();
    if (relative == "dist" || relative == "tmp" || relative == "run") {
      it.disable_recursion_pending();
      continue;
    }
    entries.insert(it->is_directory() && !it->is_symlink() ? "D " + relative + "/" : "F " + relative);
  }
  ScopedEnv sysroot("LUMO_SYSROOT", sys());
  ScopedEnv home("HOME", this->home());
  ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
  const std::pair<RegistryRoot, const char*> roots[] = {{RegistryRoot::CurrentUser, "HKEY_CURRENT_USER"},
                                                        {RegistryRoot::LocalMachine, "HKEY_LOCAL_MACHINE"},
                                                        {RegistryRoot::ClassesRoot, "HKEY_CLASSES_ROOT"}};
  for (const auto& [registryRoot, name] : roots) {
    if (RegistryResult<RegistryKey> key = openKey(registryRoot, "")) dumpKey(*key, name, entries);
  }
  return entries;
}

namespace {

bool containsProductWord(const std::string& text) {
  std::string lower = toLowerAscii(text);
  for (const char* word : {"lumo", "vexta", "zmv", "{6a1d3e10"})
    if (lower.find(word) != std::string::npos) return true;
  return false;
}

// Files that may stay after any run: logs, the machine identity, the
// registry store's own files, the desktop's cache of the applications folder,
// the machine-wide instance lock.
bool allowedAlways(const std::string& entry) {
  if (entry.ends_with("LumoInstaller.log")) return true;
  if (entry == "F sys/run/Mutex_LumoInstaller.lock") return true;
  if (entry == "F sys/usr/share/applications/mimeinfo.cache") return true;
  if (entry == "F home/.local/share/applications/mimeinfo.cache") return true;
  if (entry == "F sys/var/lib/LuMo/LumoClient/InstallConfig.ini") return true;
  if (entry.starts_with("F home/.config/lumo/registry/") || entry.starts_with("F sys/var/lib/lumo/registry/"))
    return true;
  if (entry == "V HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Imee\\Address[MacAddr]")
    return true;
  return false;
}

// Folders a desktop has anyway; a run may leave them (empty).
bool standardFolder(const std::string& entry) {
  static const std::set<std::string> folders = {
      "D home/.config/",          "D home/.config/autostart/",  "D home/.local/",      "D home/.local/share/",
      "D home/.local/share/applications/", "D home/Desktop/",   "D sys/usr/",          "D sys/usr/share/",
      "D sys/usr/share/applications/",     "D sys/opt/",         "D sys/var/",          "D sys/var/lib/",
      "D sys/etc/",               "D sys/etc/skel/",             "D sys/etc/skel/Desktop/", "D sys/run/",
      "D sys/etc/xdg/",           "D sys/etc/xdg/autostart/",
      // the product family's folders, shared with its other programs
      "D home/.config/Lumo/",     "D sys/var/lib/LuMo/",         "D sys/etc/xdg/Lumo/",
      "D home/.local/share/LuMo/"};
  return folders.count(entry) > 0;
}

}  // namespace

std::vector<std::string> leftovers(const std::set<std::string>& before, const std::set<std::string>& after,
                                   const std::vector<std::string>& alsoAllowed) {
  std::vector<std::string> added;
  for (const auto& entry : after)
    if (!before.count(entry)) added.push_back(entry);

  auto allowed = [&](const std::string& entry) {
    if (allowedAlways(entry)) return true;
    for (const auto& prefix : alsoAllowed)
      if (entry.starts_with(prefix)) return true;
    return false;
  };
  // A folder stays allowed when something allowed lies below it.
  auto holdsAllowed = [&](const std::string& entry) {
    if (!entry.starts_with("D ")) return false;
    std::string files = "F " + entry.substr(2);
    return std::any_of(added.begin(), added.end(), [&](const std::string& other) {
      return other != entry && (other.starts_with(files) || other.starts_with(entry)) && allowed(other);
    });
  };
  std::vector<std::string> result;
  for (const auto& entry : added) {
    if (allowed(entry) || standardFolder(entry) || holdsAllowed(entry)) continue;
    // A registry key that holds no product name and nothing else is the
    // empty frame of a standard key (Software\Microsoft\...), left as
    // Windows would have it.
    if (entry.starts_with("K ") && !containsProductWord(entry)) continue;
    result.push_back(entry);
  }
  return result;
}

std::vector<ScriptLine> commandLines(const std::vector<std::string>& lines, const std::string& header) {
  std::vector<ScriptLine> result;
  bool inSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = trim(lines[i]);
    if (!inSection) {
      inSection = line.starts_with(header);
      continue;
    }
    if (line.empty() || line.front() == ';') continue;
    if (line.front() != '#') break;
    result.push_back({i, std::string(line)});
  }
  return result;
}

std::vector<std::string> defaultScriptLines() {
  std::string text = gbkToUtf8(readFile(std::string(LUMO_SOURCE_DIR) + "/resources/install.ini"));
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string toScriptBytes(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return utf8ToGbk(text);
}

}  // namespace lumo::test
