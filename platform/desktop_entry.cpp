#include "platform/desktop_entry.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/atomic_file.h"
#include "platform/process.h"
#include "platform/text.h"

namespace lumo {
namespace {

// Characters after which an Exec argument must be quoted.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

// A value of type string or localestring: backslash and control characters
// escaped, a leading blank kept with "\s".
std::string escapeValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case ' ':
        out += i == 0 ? "\\s" : " ";
        break;
      default: out += c;
    }
  }
  return out;
}

std::string quoteExecArgument(std::string_view argument) {
  std::string percentSafe = replaceAll(argument, "%", "%%");
  if (!argument.empty() && argument.find_first_of(kReserved) == std::string_view::npos) return percentSafe;
  std::string quoted = "\"";
  for (char c : percentSafe) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

// "Key=a;b;\n", or nothing for an empty list. Items are plain tokens
// (categories, MIME types); one holding ";" or a line break is dropped.
std::string listValue(std::string_view key, const std::vector<std::string>& items) {
  std::string value;
  for (const std::string& item : items)
    if (!item.empty() && item.find_first_of(";\n\r\\") == std::string::npos) value += item + ";";
  return value.empty() ? std::string() : std::string(key) + "=" + value + "\n";
}

}  // namespace

std::string desktopEntryPath(std::string_view linkPath) {
  constexpr std::string_view kLnk = ".lnk";
  if (linkPath.size() > kLnk.size() && equalsIgnoreCase(linkPath.substr(linkPath.size() - kLnk.size()), kLnk))
    return std::string(linkPath.substr(0, linkPath.size() - kLnk.size())) + ".desktop";
  return std::string(linkPath);
}

std::string desktopExecValue(const std::string& program, const std::vector<std::string>& arguments,
                             std::optional<std::size_t> fileArgument) {
  std::string line = quoteExecArgument(program);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    // Appended piece by piece: a temporary " " + text here makes GCC 12's
    // optimiser warn about an overlapping copy that cannot happen.
    line += ' ';
    line += fileArgument == i ? std::string("%f") : quoteExecArgument(arguments[i]);
  }
  return escapeValue(line);
}

std::string fileStem(std::string_view path) {
  std::string_view name = path.substr(path.rfind('/') + 1);
  std::size_t dot = name.rfind('.');
  return std::string(dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot));
}

std::string renderDesktopEntry(const DesktopEntry& entry) {
  std::string text = "[Desktop Entry]\nVersion=1.0\n";
  if (entry.url.empty()) {
    text += "Type=Application\n";
  } else {
    text += "Type=Link\n";
  }
  text += "Name=" + escapeValue(entry.name) + "\n";
  // A comment that repeats the name tells nothing (and validators say so).
  if (!entry.comment.empty() && entry.comment != entry.name) text += "Comment=" + escapeValue(entry.comment) + "\n";
  if (!entry.icon.empty()) text += "Icon=" + escapeValue(entry.icon) + "\n";
  if (entry.url.empty()) {
    text += "Exec=" + desktopExecValue(entry.program, entry.arguments, entry.fileArgument) + "\n";
    text += "Terminal=false\n";
    if (entry.hidden) text += "NoDisplay=true\n";
    text += listValue("Categories", entry.categories);
    text += listValue("MimeType", entry.mimeTypes);
  } else {
    text += "URL=" + escapeValue(entry.url) + "\n";
  }
  return text;
}

bool writeDesktopEntry(const std::string& path, const DesktopEntry& entry) {
  return replaceFileAtomically(path, renderDesktopEntry(entry), 0755);
}

std::string fileUri(std::string_view absolutePath) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : absolutePath) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 std::string_view("/-._~").find(static_cast<char>(c)) != std::string_view::npos;
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

void refreshDesktopDatabase(const std::string& applicationsFolder) {
  // A fixed path: the installer may run as root, so nothing is looked up in
  // the current folder or PATH.
  static constexpr const char* kTool = "/usr/bin/update-desktop-database";
  constexpr int kWaitMilliseconds = 5000;
  struct stat folder{};
  if (applicationsFolder.empty() || ::stat(applicationsFolder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode) ||
      ::access(kTool, X_OK) != 0)
    return;
  long process = startProcess({kTool, {kTool, "-q", applicationsFolder}}, false);
  if (process != 0) waitForProcess(process, kWaitMilliseconds);
}

}  // namespace lumo
