// Folders that belong to the system and never to one product: the standard
// folders of the file-system hierarchy with their standard children, and
// mount points. A product's own folder is none of them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumo {

// Whether `folder` (an absolute, resolved path) is one of the hierarchy's
// standard folders ("/var", "/var/lib", "/usr/lib", "/srv", "/home", ...),
// on the machine itself or under LUMO_SYSROOT.
bool isStandardSystemFolder(const std::string& folder);

// Whether a file system is mounted at `folder` (an absolute, resolved path).
bool isMountPoint(const std::string& folder);

// Why `folder` cannot be a product folder named `productName`, or nothing
// when it can be: it must be absolute, its resolved path must end with that
// name (in any letter case), and it must be neither a standard folder nor a mount point. The
// reason names the resolved folder.
std::optional<std::string> whyNotProductFolder(const std::string& folder, std::string_view productName);

}  // namespace lumo
