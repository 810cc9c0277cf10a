// Shell links on Linux: freedesktop desktop entries (.desktop files). A link
// to a program becomes Type=Application with an Exec line, a link to a web
// address Type=Link with a URL. The file is written whole and renamed into
// place, and carries the executable bit, which desktops require before they
// trust an entry on the desktop.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

// The file that stands for the link name a script gives: "X.lnk" (any
// letter case) becomes "X.desktop"; every other name is used as it is.
std::string desktopEntryPath(std::string_view linkPath);

struct DesktopEntry {
  std::string name;     // Name=, what menus and desktops show
  std::string comment;  // Comment=, left out when empty or the same as the name
  std::string icon;     // Icon=, a theme icon name or an absolute path; left out when empty
  // Type=Application: the program and its arguments, one per element.
  std::string program;
  std::vector<std::string> arguments;
  // Type=Link when not empty: the address to open (web address or file URI).
  std::string url;
  // Type=Application only from here on.
  // The argument at this index is the file to open (the field code %f).
  std::optional<std::size_t> fileArgument;
  // Menu categories and the MIME types the program opens; a hidden entry
  // shows in no menu but may still open files.
  std::vector<std::string> categories;
  std::vector<std::string> mimeTypes;
  bool hidden = false;
};

// The Exec value for a program and its arguments: every element quoted as
// the Desktop Entry rules require, "%" doubled, and the whole line escaped
// as a string value of the file. The argument at `fileArgument` becomes %f.
std::string desktopExecValue(const std::string& program, const std::vector<std::string>& arguments,
                             std::optional<std::size_t> fileArgument = std::nullopt);

// The whole text of the entry.
std::string renderDesktopEntry(const DesktopEntry& entry);

// Writes the entry to `path` (replacing a file there) with mode 0755.
// Returns false when it could not be written; nothing is left behind then.
bool writeDesktopEntry(const std::string& path, const DesktopEntry& entry);

// "file://" followed by the percent-encoded absolute path.
std::string fileUri(std::string_view absolutePath);

// "Name.ext" cut to "Name": the name a link file gives its entry.
std::string fileStem(std::string_view path);

// Tells the desktop that file associations changed (the Windows shell's
// "associations changed" notice): rebuilds the MIME cache of an existing
// applications folder with update-desktop-database, where that program is
// installed. Waits a few seconds at most; failures are ignored.
void refreshDesktopDatabase(const std::string& applicationsFolder);

}  // namespace lumo
