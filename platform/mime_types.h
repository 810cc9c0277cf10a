// File types on the Linux desktop: shared-mime-info packages. A package
// (mime/packages/NAME.xml below a data folder) declares MIME types and the
// file name globs that give them; update-mime-database turns the packages
// of that folder into the caches file managers read. Which program opens a
// type is said by desktop entries (MimeType=), see desktop_entry.h.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumo {

struct MimeTypeDeclaration {
  std::string type;                // "application/x-zmv"
  std::string comment;             // what file managers call the type
  std::string icon;                // theme icon name; left out when empty
  std::vector<std::string> globs;  // "*.zmv"
};

// The package's XML text.
std::string renderMimePackage(const std::vector<MimeTypeDeclaration>& types);

// The MIME type given to files ending in `extension` (".zmv" or "zmv"):
// "application/x-" and the extension in lower case; empty for an extension
// that cannot be part of a type name.
std::string mimeTypeForExtension(std::string_view extension);

// The packages folder below a data folder.
std::string mimePackagesFolder(const std::string& dataFolder);

// Rebuilds the MIME caches below `dataFolder` from its packages with
// update-mime-database, where that program is installed. A folder left with
// no package holds only caches built from nothing, and is removed whole.
void refreshMimeDatabase(const std::string& dataFolder);

}  // namespace lumo
