#include "platform/mime_types.h"

#include <unistd.h>

#include <cctype>
#include <filesystem>

#include "platform/file_operations.h"
#include "platform/process.h"
#include "platform/text.h"

namespace lumo {
namespace {

namespace fs = std::filesystem;

// A fixed path: the installer may run as root, so nothing is looked up in
// the current folder or PATH.
constexpr const char* kDatabaseTool = "/usr/bin/update-mime-database";
constexpr int kMimeToolWaitMilliseconds = 10000;

std::string xmlEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

bool holdsPackage(const std::string& packages) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(packages, ec))
    if (entry.path().extension() == ".xml") return true;
  return false;
}

}  // namespace

std::string renderMimePackage(const std::vector<MimeTypeDeclaration>& types) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
  for (const MimeTypeDeclaration& type : types) {
    xml += "  <mime-type type=\"" + xmlEscaped(type.type) + "\">\n";
    if (!type.comment.empty()) xml += "    <comment>" + xmlEscaped(type.comment) + "</comment>\n";
    if (!type.icon.empty()) xml += "    <icon name=\"" + xmlEscaped(type.icon) + "\"/>\n";
    for (const std::string& glob : type.globs) xml += "    <glob pattern=\"" + xmlEscaped(glob) + "\"/>\n";
    xml += "  </mime-type>\n";
  }
  return xml + "</mime-info>\n";
}

std::string mimeTypeForExtension(std::string_view extension) {
  if (extension.starts_with('.')) extension.remove_prefix(1);
  if (extension.empty()) return {};
  for (char c : extension)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') return {};
  return "application/x-" + toLowerAscii(extension);
}

std::string mimePackagesFolder(const std::string& dataFolder) { return dataFolder + "/mime/packages"; }

void refreshMimeDatabase(const std::string& dataFolder) {
  if (dataFolder.empty()) return;
  const std::string mime = dataFolder + "/mime";
  if (!holdsPackage(mimePackagesFolder(dataFolder))) {
    // Never the case for /usr/share, whose packages describe every common
    // type; for a user's or a sandbox's folder it undoes what the first
    // registration created.
    if (isFolder(mime)) removeTree(mime);
    return;
  }
  if (::access(kDatabaseTool, X_OK) != 0) return;
  long process = startProcess({kDatabaseTool, {kDatabaseTool, mime}}, false);
  if (process != 0) waitForProcess(process, kMimeToolWaitMilliseconds);
}

}  // namespace lumo
